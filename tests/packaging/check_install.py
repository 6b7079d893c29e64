#!/usr/bin/env python3
"""Installs Siderama with `cmake --install` into a temporary DESTDIR (prefix
/usr, as the Debian package) and checks the result: the layout, the desktop
entry, icons, manual page and licence, and that the installed program runs
and solves a generated star field with the real tools, found from its own
location only."""

import argparse
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

from packaging_checks import TOOLS, check, failures, run

TYCHO2 = "/usr/share/astrometry/index-tycho2-{:02d}.littleendian.fits"


def png_size(path):
    with open(path, "rb") as file:
        head = file.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def check_layout(usr, arguments):
    binary = os.path.join(usr, "bin/siderama")
    check(os.path.isfile(binary) and os.access(binary, os.X_OK), "bin/siderama is an executable")

    for tool in TOOLS:
        link = os.path.join(usr, "libexec/siderama", tool)
        if check(os.path.islink(link), f"libexec/siderama/{tool} is a link"):
            check(os.readlink(link) == f"/usr/bin/{tool}",
                  f"libexec/siderama/{tool} points to /usr/bin/{tool}, not {os.readlink(link)}")
            check(os.access(link, os.X_OK), f"libexec/siderama/{tool} reaches an executable")

    desktop = os.path.join(usr, "share/applications/siderama.desktop")
    if check(os.path.isfile(desktop), "share/applications/siderama.desktop exists"):
        validator = shutil.which("desktop-file-validate")
        if check(validator is not None, "desktop-file-validate is installed (desktop-file-utils)"):
            result = run([validator, desktop])
            check(result.returncode == 0, "desktop-file-validate passes:\n" + result.stdout)
        text = open(desktop, encoding="utf-8").read()
        check(re.search(r"^Exec=siderama %[fFuU]$", text, re.M) is not None, "Exec passes the file")
        check(re.search(r"^Icon=siderama$", text, re.M) is not None, "Icon names the theme icon")
        mime = re.search(r"^MimeType=(.*)$", text, re.M)
        types = mime.group(1).split(";") if mime else []
        for wanted in ["image/fits", "image/jpeg", "image/png", "image/tiff"]:
            check(wanted in types, f"MimeType declares {wanted}")

    metainfo = os.path.join(usr, "share/metainfo/io.github.siderama.siderama.metainfo.xml")
    if check(os.path.isfile(metainfo), "AppStream metainfo installed"):
        check(f'version="{arguments.version}"' in open(metainfo, encoding="utf-8").read(),
              "metainfo names the release")
        appstreamcli = shutil.which("appstreamcli")
        if appstreamcli:
            result = run([appstreamcli, "validate", "--no-net", metainfo])
            check(result.returncode == 0, "appstreamcli validate passes:\n" + result.stdout)

    hicolor = os.path.join(usr, "share/icons/hicolor")
    svg = os.path.join(hicolor, "scalable/apps/siderama.svg")
    if check(os.path.isfile(svg), "scalable SVG icon installed"):
        check("<svg" in open(svg, encoding="utf-8").read(), "the SVG icon is an SVG document")
    for size in arguments.icon_sizes.split(","):
        png = os.path.join(hicolor, f"{size}x{size}/apps/siderama.png")
        if check(os.path.isfile(png), f"{size}x{size} PNG icon installed"):
            check(png_size(png) == (int(size), int(size)), f"{size}x{size} PNG has that size")

    man = os.path.join(usr, "share/man/man1/siderama.1.gz")
    if check(os.path.isfile(man), "manual page installed compressed"):
        page = gzip.open(man, "rt", encoding="utf-8").read()
        check(page.startswith(".TH SIDERAMA 1"), "manual page starts with .TH")
        check(arguments.version in page.splitlines()[0], "manual page carries the version")
        for option in ["--solve", "--headless", "--indexes", "--fetch-index", "--remove-index",
                       "--help", "--version", "/api/upload", "/api/status"]:
            check(option.replace("-", "\\-") in page, f"manual page documents {option}")
        if shutil.which("man"):
            result = subprocess.run(["man", "--warnings", "-l", man], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.PIPE, text=True,
                                    env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"))
            check(result.returncode == 0 and not result.stderr.strip(),
                  "man renders the page without warnings:\n" + result.stderr)

    copyright_file = os.path.join(usr, "share/doc/siderama/copyright")
    if check(os.path.isfile(copyright_file), "share/doc/siderama/copyright installed"):
        text = open(copyright_file, encoding="utf-8").read()
        check("Copyright 2026 The Siderama developers" in text, "copyright names the holders")
        check("Permission is hereby granted, free of charge" in text, "copyright holds the MIT text")

    result = run(["readelf", "-d", binary])
    check(arguments.build_dir not in result.stdout, "no run path into the build tree")


def check_program(usr, arguments, work):
    binary = os.path.join(usr, "bin/siderama")
    home = os.path.join(work, "home")
    data = os.path.join(home, "data")
    environment = dict(os.environ, HOME=home, XDG_DATA_HOME=data,
                       XDG_CONFIG_HOME=os.path.join(home, "config"),
                       XDG_CACHE_HOME=os.path.join(home, "cache"),
                       XDG_RUNTIME_DIR=work, QT_QPA_PLATFORM="offscreen")
    environment.pop("SIDERAMA_TOOLS_DIR", None)

    result = run([binary, "--version"], env=environment, cwd=work)
    check(result.returncode == 0 and result.stdout.strip() == f"Siderama {arguments.version}",
          f"--version prints 'Siderama {arguments.version}', got {result.stdout!r}")
    result = run([binary, "--help"], env=environment, cwd=work)
    check(result.returncode == 0, "--help succeeds")
    for option in ["--solve", "--headless", "--indexes", "--fetch-index", "--remove-index"]:
        check(option in result.stdout, f"--help lists {option}")

    if not os.path.isfile(TYCHO2.format(10)):
        print("Tycho-2 index files missing: the solve is skipped")
        return
    indexes = os.path.join(data, "Siderama")
    os.makedirs(indexes)
    for n in range(10, 20):
        os.symlink(TYCHO2.format(n), os.path.join(indexes, f"index-41{n:02d}.fits"))
    image = os.path.join(home, "orion.png")
    result = run([arguments.skyfield, "--ra", "83.8", "--dec", "-5.4", "--width", "800",
                  "--height", "600", "--scale", "40", "--format", "png8", "--out", image])
    if not check(result.returncode == 0, "skyfield makes the field:\n" + result.stdout):
        return
    result = run([binary, "--solve", image], env=environment, cwd=work, timeout=150)
    output = result.stdout
    print("\n".join(output.strip().splitlines()[-3:]))
    check("failed to start" not in output, "the installed program finds its tools:\n" + output)
    check(result.returncode == 0, "the installed program solves the field:\n" + output)
    last = output.strip().splitlines()[-1].split() if output.strip() else []
    if check(len(last) >= 6 and last[1:3] == ["solved", "RA"], "the summary is printed last:\n" + output):
        check(abs(float(last[3]) - 83.8) < 0.05, f"RA near 83.8, got {last[3]}")
        check(abs(float(last[5]) + 5.4) < 0.05, f"Dec near -5.4, got {last[5]}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--icon-sizes", required=True)
    parser.add_argument("--skyfield", required=True)
    arguments = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="siderama-install-") as work:
        root = os.path.join(work, "root")
        result = run([arguments.cmake, "--install", arguments.build_dir, "--prefix", "/usr"],
                     env=dict(os.environ, DESTDIR=root))
        print(result.stdout)
        if not check(result.returncode == 0, "cmake --install succeeds"):
            return 1
        usr = os.path.join(root, "usr")
        check_layout(usr, arguments)
        check_program(usr, arguments, work)

    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("install layout and installed program OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
