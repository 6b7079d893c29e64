#!/usr/bin/python3
"""astroquery's AstrometryNet client, unchanged, against `siderama --headless`
on loopback: a generated star field solved by image upload and by star list,
then both again after a restart of the server, over HTTPS, trusting only the
authority Siderama serves at /ca.crt (a client that trusts only the system's
authorities is refused); last, a serve-only front end and a pure worker with
homes of their own share a private PostgreSQL server, and both solves go
through the front end before and after it is restarted.

    astroquery_test.py SIDERAMA SKYFIELD IMAGE2XY
"""

import os
import shutil
import subprocess
import sys
import tempfile
import threading

import numpy
import requests
from astropy.io import fits
from astropy.wcs import WCS
from astroquery.astrometry_net import AstrometryNet

TYCHO2 = "/usr/share/astrometry/index-tycho2-{:02d}.littleendian.fits"
FIELD = {"ra": 150.0, "dec": 30.0, "width": 800, "height": 600, "scale": 30}
HINTS = {"scale_units": "arcsecperpix", "scale_lower": 20, "scale_upper": 40}


def start_server(program, environment, options=("--tls-port", "0")):
    server = subprocess.Popen([program, "--headless", *options], env=environment, stdout=subprocess.PIPE, text=True)
    ports = {}
    for line in server.stdout:
        for scheme in ("http", "https"):
            if line.startswith(f"{scheme.upper()} server started on port "):
                ports[scheme] = int(line.split()[-1])
        if len(ports) == (2 if "--tls-port" in options else 1):
            threading.Thread(target=server.stdout.read, daemon=True).start()  # keeps the pipe drained
            return server, ports
    raise RuntimeError("the server did not start")


def check(name, header):
    ra, dec = WCS(header).all_pix2world([[(FIELD["width"] + 1) / 2, (FIELD["height"] + 1) / 2]], 1)[0]
    off = numpy.hypot((ra - FIELD["ra"]) * numpy.cos(numpy.radians(dec)), dec - FIELD["dec"])
    print(f"{name}: RA {ra:.4f} Dec {dec:.4f}, {off * 3600:.1f} arcsec from the truth", flush=True)
    if off > 0.02:
        raise AssertionError(f"{name}: wrong centre")


def solve_both(base, image, stars):
    client = AstrometryNet
    client.api_key, client.URL, client.API_URL, client._session_id = "siderama-test", base, f"{base}/api", None
    check("image upload", client.solve_from_image(image, force_image_upload=True, solve_timeout=120, **HINTS))
    x, y = stars
    check("star list", client.solve_from_source_list(x, y, FIELD["width"], FIELD["height"], solve_timeout=120,
                                                     **HINTS))


def postgres(home):
    """A private server on a Unix socket, run as the postgres user when we are root."""
    folder = tempfile.mkdtemp(prefix="siderama-postgres-", dir="/tmp")
    as_user = ["runuser", "-u", "postgres", "--"] if os.getuid() == 0 else []
    if as_user:
        shutil.chown(folder, "postgres", "postgres")
    pg = "/usr/lib/postgresql/15/bin/"
    subprocess.run(as_user + [pg + "initdb", "-D", f"{folder}/data", "-A", "trust", "-U", "postgres", "--no-sync"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(as_user + [pg + "pg_ctl", "-D", f"{folder}/data", "-l", f"{folder}/log", "-w", "-o",
                              f"-k {folder} -c listen_addresses= -c fsync=off", "start"], check=True,
                   stdout=subprocess.DEVNULL)
    def stop():
        subprocess.run(as_user + [pg + "pg_ctl", "-D", f"{folder}/data", "-m", "fast", "-w", "stop"])
        shutil.rmtree(folder)
    return f"postgresql://postgres@/postgres?host={folder}", stop


def shared_queue(program, environment, image, stars):
    url, stop_postgres = postgres(environment["HOME"])
    worker_home = os.path.join(environment["HOME"], "worker")
    shutil.copytree(os.path.join(environment["HOME"], "data"), os.path.join(worker_home, "data"), symlinks=True)
    worker_environment = dict(environment, HOME=worker_home, XDG_DATA_HOME=os.path.join(worker_home, "data"),
                              XDG_CONFIG_HOME=os.path.join(worker_home, "config"))
    worker = subprocess.Popen([program, "--headless", "--no-listen", "--solves", "1", "--database", url],
                              env=worker_environment, stdout=subprocess.DEVNULL)
    try:
        for run in ("a front end and a worker on PostgreSQL", "the front end restarted"):
            print(run, flush=True)
            front, ports = start_server(program, environment, ("--port", "0", "--solves", "0", "--database", url))
            try:
                solve_both(f"http://127.0.0.1:{ports['http']}", image, stars)
            finally:
                front.terminate()
                front.wait(timeout=30)
    finally:
        worker.terminate()
        worker.wait(timeout=30)
        stop_postgres()


def main(program, skyfield, image2xy):
    with tempfile.TemporaryDirectory() as home:
        folder = os.path.join(home, "data", "Siderama")
        os.makedirs(folder)
        for n in range(10, 20):
            os.symlink(TYCHO2.format(n), os.path.join(folder, f"index-41{n}.fits"))
        image = os.path.join(home, "field.fits")
        subprocess.run([skyfield, "--out", image, "--rotation", "25"] +
                       [f"--{key}={value}" for key, value in FIELD.items()], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([image2xy, "-O", "-o", image + ".xy", image], check=True, stdout=subprocess.DEVNULL)
        table = fits.getdata(image + ".xy", 1)
        brightest = numpy.argsort(-table["FLUX"])[:100]  # the order astroquery sends
        stars = (table["X"][brightest], table["Y"][brightest])
        environment = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
                           XDG_CONFIG_HOME=os.path.join(home, "config"), TMPDIR=home)
        environment.pop("SIDERAMA_TOOLS_DIR", None)
        for run, scheme in (("first start", "http"), ("after a restart, over HTTPS", "https")):
            print(run, flush=True)
            server, ports = start_server(program, environment)
            base = f"{scheme}://127.0.0.1:{ports[scheme]}"
            try:
                if scheme == "https":
                    try:
                        requests.get(f"{base}/api/login", timeout=30)
                    except requests.exceptions.SSLError as error:
                        print(f"refused: {error}", flush=True)
                    else:
                        raise AssertionError("a client without the authority was not refused")
                    authority = os.path.join(home, "fetched-ca.crt")  # from the plain listener
                    with open(authority, "wb") as file:
                        file.write(requests.get(f"http://127.0.0.1:{ports['http']}/ca.crt", timeout=30).content)
                    os.environ["REQUESTS_CA_BUNDLE"] = authority
                solve_both(base, image, stars)
            finally:
                server.terminate()
                server.wait(timeout=30)
        os.environ.pop("REQUESTS_CA_BUNDLE")
        shared_queue(program, environment, image, stars)


if __name__ == "__main__":
    main(*sys.argv[1:4])
