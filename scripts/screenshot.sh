#!/bin/sh
# Remakes docs/screenshot.png: the solver window after solving the sample
# image, drawn on a virtual X server. Needs a build (scripts/build.sh;
# BUILD_DIR names another build directory).
set -e
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
cmake --build "$build" --target siderama_screenshot
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/data/Siderama"
for n in 10 11 12 13 14 15 16 17 18 19; do
    ln -s "/usr/share/astrometry/index-tycho2-$n.littleendian.fits" "$home/data/Siderama/index-41$n.fits"
done
cp data/sample-orion.jpg "$home/"
HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" SIDERAMA_TOOLS_DIR="$PWD/$build/libexec/siderama" \
    xvfb-run -a -s "-screen 0 1280x800x24" "$build/tools/bin/siderama_screenshot" "$home/sample-orion.jpg" "$PWD/docs/screenshot.png"
echo "wrote docs/screenshot.png"
