"""What the packaging checks share: the tool names, a failure list and a
command runner."""

import subprocess

TOOLS = ["image2xy", "solve-field", "new-wcs", "wcsinfo", "plot-constellations"]

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)
    return condition


def run(command, **kwargs):
    print("$ " + " ".join(command), flush=True)
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, **kwargs)
