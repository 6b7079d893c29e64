#!/bin/sh
# Installs every Debian package Siderama needs to build, run and test.
set -e
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
    build-essential cmake ninja-build pkg-config git ccache \
    qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libqt6svg6 \
    libgl-dev libxkbcommon-dev \
    libcfitsio-dev libexif-dev nlohmann-json3-dev libavahi-client-dev libsqlite3-dev libssl-dev \
    libqt6sql6-sqlite libqt6sql6-psql postgresql sqlite3 \
    astrometry.net astrometry-data-tycho2-10-19-littleendian libastrometry-dev \
    libgtest-dev libgmock-dev \
    curl python3 python3-numpy xvfb xauth fonts-dejavu-core \
    avahi-daemon avahi-utils dbus iproute2 \
    desktop-file-utils appstream dpkg-dev file \
    clang libclang-rt-14-dev \
    wrk nginx-light libcpp-httplib-dev \
    python3-astroquery python3-selenium chromium chromium-driver
