#!/usr/bin/env python3
"""Upload an image to a running Siderama and wait for its calibration.

    siderama-client.py --port 40123 m31.fits
    siderama-client.py --host observatory.local --port 40123 --put m31.jpg
    siderama-client.py --host observatory.local --port 8443 --cafile ca.crt m31.fits

Prints the calibration ({"ra": ..., "dec": ..., "orientation": ...,
"pixscale": ...}) as JSON and exits with 0 once the image is solved; prints
the failure message and exits with 1 otherwise. Standard library only.
"""

import argparse
import http.client
import json
import os
import ssl
import sys
import time
import uuid


def request(server, method, path, body=None, headers=None):
    """One request on its own connection; answers the decoded JSON.

    `server` is (host, port, TLS context or None for plain HTTP)."""
    host, port, context = server
    if context:
        connection = http.client.HTTPSConnection(host, port, timeout=60, context=context)
    else:
        connection = http.client.HTTPConnection(host, port, timeout=60)
    try:
        connection.request(method, path, body=body, headers=headers or {})
        return json.loads(connection.getresponse().read().decode("utf-8"))
    finally:
        connection.close()


def upload_form(server, name, data):
    """POST /api/upload with a multipart form holding the one image part."""
    boundary = uuid.uuid4().hex
    body = (
        f"--{boundary}\r\n"
        f'Content-Disposition: form-data; name="image"; filename="{name}"\r\n'
        "Content-Type: application/octet-stream\r\n\r\n"
    ).encode() + data + f"\r\n--{boundary}--\r\n".encode()
    headers = {"Content-Type": f"multipart/form-data; boundary={boundary}"}
    return request(server, "POST", "/api/upload", body, headers)


def upload_raw(server, name, data):
    """PUT /api/upload with the image as the body and its name in the header."""
    headers = {"Content-Disposition": f'attachment; filename="{name}"'}
    return request(server, "PUT", "/api/upload", data, headers)


def wait_for_result(server, timeout, interval=0.5):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        status = request(server, "GET", "/api/status")
        if status["status"] in ("done", "failed"):
            return status
        time.sleep(interval)
    return {"status": "failed", "message": f"no result within {timeout} seconds"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image", help="FITS, JPEG, PNG, TIFF or raw frame file")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True, help="the port Siderama logged at start-up")
    parser.add_argument("--put", action="store_true", help="upload by PUT instead of the form POST")
    parser.add_argument("--tls", action="store_true", help="HTTPS, trusting the system's authorities")
    parser.add_argument("--cafile", help="HTTPS, trusting this authority (Siderama's /ca.crt)")
    parser.add_argument("--timeout", type=float, default=600, help="seconds to wait for the solve")
    arguments = parser.parse_args()

    with open(arguments.image, "rb") as file:
        data = file.read()
    name = os.path.basename(arguments.image)
    context = None
    if arguments.tls or arguments.cafile:
        context = ssl.create_default_context(cafile=arguments.cafile)
    server = (arguments.host, arguments.port, context)
    upload = upload_raw if arguments.put else upload_form
    try:
        answer = upload(server, name, data)
    except ssl.SSLError as error:
        print(f"TLS failed: {error}", file=sys.stderr)
        return 1
    if answer.get("status") != "success":
        print(answer.get("errormessage", answer), file=sys.stderr)
        return 1
    result = wait_for_result(server, arguments.timeout)
    if result["status"] != "done":
        print(result.get("message", "failed"), file=sys.stderr)
        return 1
    print(json.dumps(result["calibration"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
