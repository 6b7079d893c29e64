#!/usr/bin/env python3
"""Python's http.client and urllib against the test server: GET, JSON,
keep-alive, PUT with a length, chunked PUT, multipart POST, not found and a
refused header."""
import http.client
import json
import subprocess
import sys
import urllib.error
import urllib.request


def fnv(data: bytes) -> str:
    value = 1469598103934665603
    for byte in data:
        value = ((value ^ byte) * 1099511628211) % (1 << 64)
    return f"{len(data)}:{value}"


def main() -> int:
    server = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        port = int(server.stdout.readline())
        connect = lambda: http.client.HTTPConnection("127.0.0.1", port, timeout=10)

        conn = connect()
        conn.request("GET", "/hello")
        response = conn.getresponse()
        assert response.status == 200 and response.reason == "OK", response.status
        assert response.read() == b"hello"
        assert response.getheader("Server", "").startswith("Siderama ")
        assert response.getheader("Connection") == "close"
        # Told that the connection ends, the client opens a new one by itself.
        conn.request("GET", "/hello")
        assert conn.getresponse().read() == b"hello"

        conn = connect()
        for i in range(5):
            conn.request("GET", f"/json?i={i}", headers={"Connection": "keep-alive"})
            response = conn.getresponse()
            assert response.getheader("Connection") == "keep-alive"
            assert response.getheader("Content-Type") == "application/json"
            assert json.loads(response.read()) == {"method": "GET", "url": f"/json?i={i}"}

        payload = bytes(range(256)) * 4000
        conn.request("PUT", "/upload", body=payload, headers={"Connection": "keep-alive"})
        assert conn.getresponse().read().decode() == fnv(payload)

        conn.request("PUT", "/upload", body=iter([payload[:1000], payload[1000:]]),
                     encode_chunked=True, headers={"Connection": "keep-alive"})
        assert conn.getresponse().read().decode() == fnv(payload)

        boundary = "----PyBoundary"
        body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
                f"--{boundary}\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x.bin\"\r\n"
                f"Content-Type: application/octet-stream\r\n\r\n").encode() + payload + f"\r\n--{boundary}--\r\n".encode()
        conn.request("POST", "/upload", body=body,
                     headers={"Content-Type": f"multipart/form-data; boundary={boundary}"})
        assert conn.getresponse().read().decode() == f"a={fnv(b'1')}\nf={fnv(payload)}\n"

        base = f"http://127.0.0.1:{port}"
        with urllib.request.urlopen(base + "/json?x=%41", timeout=10) as reply:
            assert json.loads(reply.read()) == {"method": "GET", "url": "/json?x=%41"}
        upload = urllib.request.Request(base + "/upload", data=payload, method="PUT")
        with urllib.request.urlopen(upload, timeout=10) as reply:
            assert reply.read().decode() == fnv(payload)
        try:
            urllib.request.urlopen(base + "/missing", timeout=10)
            raise AssertionError("no error for a missing route")
        except urllib.error.HTTPError as error:
            assert error.code == 404, error.code

        conn = connect()
        conn.putrequest("GET", "/hello")
        conn.putheader("X-Big", "v" * 10000)
        conn.endheaders()
        response = conn.getresponse()
        assert response.status == 431, response.status
        print("python http.client and urllib: all checks passed")
        return 0
    finally:
        server.stdin.close()
        server.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main())
