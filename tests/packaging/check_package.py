#!/usr/bin/env python3
"""Builds the Debian package with `cpack -G DEB` into a temporary directory
and checks its control fields (dpkg-deb -I) and file list (dpkg-deb -c)."""

import argparse
import glob
import os
import re
import shutil
import sys
import tempfile

from packaging_checks import TOOLS, check, failures, run

DEPENDS = ["libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6network6", "libcfitsio10",
           "libavahi-client3", "astrometry.net", "qt6-image-formats-plugins"]
RECOMMENDS = ["astrometry-data-tycho2-10-19-littleendian", "avahi-daemon"]


def field(info, name):
    """The value of a control field in `dpkg-deb -I` output (continuation
    lines joined)."""
    match = re.search(rf"^ {re.escape(name)}: (.*(?:\n  .*)*)", info, re.M)
    return match.group(1) if match else None


def package_names(relation):
    """Package names of a Depends-style field, alternatives included."""
    names = set()
    for clause in (relation or "").split(","):
        for alternative in clause.split("|"):
            alternative = alternative.strip()
            if alternative:
                names.add(re.split(r"[\s(:]", alternative, maxsplit=1)[0])
    return names


def check_control(info, arguments):
    check(field(info, "Package") == "siderama", "Package: siderama")
    check(field(info, "Version") == arguments.version, f"Version: {arguments.version}")
    check(field(info, "Section") == "science", "Section: science")
    check(field(info, "Architecture") not in (None, "all"), "an architecture-specific package")
    maintainer = field(info, "Maintainer") or ""
    check(re.fullmatch(r".+ <[^@\s]+@[^@\s]+>", maintainer) is not None,
          f"Maintainer is 'Name <address>', got {maintainer!r}")
    description = field(info, "Description") or ""
    check(description.startswith("plate solver"), "Description has the summary line")
    check("\n " in description, "Description has a long text")

    depends = package_names(field(info, "Depends"))
    for name in DEPENDS:
        check(name in depends, f"Depends names {name} (got {sorted(depends)})")
    recommends = package_names(field(info, "Recommends"))
    for name in RECOMMENDS:
        check(name in recommends, f"Recommends names {name} (got {sorted(recommends)})")
    check(not any(name.endswith("-dev") for name in depends), "no development packages in Depends")


def check_files(listing, arguments):
    entries = {}
    for line in listing.splitlines():
        # drwxr-xr-x root/root 0 2026-01-01 00:00 ./usr/bin/
        parts = line.split(None, 5)
        if len(parts) < 6:
            continue
        mode, owner, name = parts[0], parts[1], parts[5]
        target = None
        if " -> " in name:
            name, target = name.split(" -> ", 1)
        entries[name.rstrip("/")] = (mode, owner, target)

    for name, (mode, owner, _) in entries.items():
        check(name == "." or name.startswith("./usr"), f"{name} lies under /usr")
        check(owner == "root/root", f"{name} belongs to root")
        check(arguments.build_dir not in name, f"{name} is not a build-tree path")

    def has(name, kind="-"):
        entry = entries.get(name)
        return check(entry is not None and entry[0].startswith(kind), f"package holds {name}")

    programs = ("./usr/bin/siderama", "./usr/libexec/siderama/siderama-app")
    for program in programs:
        if has(program):
            check(entries[program][0] == "-rwxr-xr-x", f"{program} is mode 755")
    for tool in TOOLS:
        if has(f"./usr/libexec/siderama/{tool}", "l"):
            target = entries[f"./usr/libexec/siderama/{tool}"][2]
            check(target == f"/usr/bin/{tool}", f"{tool} links to /usr/bin/{tool}, not {target}")
    has("./usr/share/applications/siderama.desktop")
    has("./usr/share/icons/hicolor/scalable/apps/siderama.svg")
    for size in arguments.icon_sizes.split(","):
        has(f"./usr/share/icons/hicolor/{size}x{size}/apps/siderama.png")
    has("./usr/share/metainfo/io.github.siderama.siderama.metainfo.xml")
    has("./usr/share/man/man1/siderama.1.gz")
    has("./usr/share/doc/siderama/copyright")
    for name, (mode, _, _) in entries.items():
        if mode.startswith("-") and name not in programs:
            check(mode == "-rw-r--r--", f"{name} is mode 644, not {mode}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--icon-sizes", required=True)
    arguments = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="siderama-deb-") as work:
        result = run([arguments.cpack, "-G", "DEB", "--config",
                      os.path.join(arguments.build_dir, "CPackConfig.cmake"), "-B", work],
                     cwd=arguments.build_dir)
        print(result.stdout)
        packages = glob.glob(os.path.join(work, "siderama_*.deb"))
        if not check(result.returncode == 0 and len(packages) == 1, "cpack makes one siderama_*.deb"):
            return 1
        package = packages[0]
        check(os.path.basename(package).startswith(f"siderama_{arguments.version}_"),
              f"package file named siderama_{arguments.version}_ARCH.deb")

        info = run(["dpkg-deb", "-I", package])
        print(info.stdout)
        if check(info.returncode == 0, "dpkg-deb -I reads the package"):
            check_control(info.stdout, arguments)
        listing = run(["dpkg-deb", "-c", package])
        print(listing.stdout)
        if check(listing.returncode == 0, "dpkg-deb -c lists the package"):
            check_files(listing.stdout, arguments)

        # apt resolves the dependencies from the local package lists; the
        # simulation changes nothing on the machine.
        if shutil.which("apt-get"):
            simulation = run(["apt-get", "install", "--simulate", "--quiet", "--no-install-recommends",
                              os.path.abspath(package)])
            print(simulation.stdout[-1500:])
            check(simulation.returncode == 0 and re.search(r"^Inst siderama ", simulation.stdout, re.M),
                  "apt-get can install the package (simulated)")

    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("Debian package OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
