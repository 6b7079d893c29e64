#!/bin/sh
# A private network for DNS-SD tests: a network and mount namespace holding
# only loopback and a veth pair (both ends inside), its own /run, a private
# system D-Bus and avahi-daemon. Nothing reaches the machine's real network.
#
#   netns-avahi.sh hold DIR          create the namespace; runs until killed
#   netns-avahi.sh run DIR CMD...    run CMD inside it (the bus address set)
#   netns-avahi.sh start-bus|start-avahi|stop-avahi DIR
#   netns-avahi.sh stop DIR          end every process inside, the namespace with them
# DIR holds the state: holder.pid and run/ (mounted on /run); the configs lie beside this script.
set -eu
command=$1
dir=$2
shift 2
bus=unix:path=/run/dbus/system_bus_socket  # as in netns-dbus.conf
here=$(cd "$(dirname "$0")" && pwd)

inside() {
    exec nsenter -t "$(cat "$dir/holder.pid")" -n -m env DBUS_SYSTEM_BUS_ADDRESS=$bus "$@"
}

case $command in
hold)
    mkdir -p "$dir/run"
    exec unshare --net --mount --propagation private "$0" _hold "$dir"
    ;;
_hold)
    mount --bind "$dir/run" /run
    mkdir -p /run/dbus /run/avahi-daemon
    ip link set lo up
    ip link add sdrtest0 type veth peer name sdrtest1
    for end in 0 1; do
        ip addr add 10.213.0.$((end + 1))/24 dev sdrtest$end
        ip link set sdrtest$end up
    done
    echo $$ > "$dir/holder.pid.new"
    mv "$dir/holder.pid.new" "$dir/holder.pid"
    exec sleep infinity
    ;;
run) inside "$@" ;;
start-bus) inside dbus-daemon --config-file="$here/netns-dbus.conf" --fork --nopidfile ;;
start-avahi) inside avahi-daemon -f "$here/netns-avahi.conf" --no-drop-root --no-chroot --no-rlimits -D ;;
stop-avahi) inside avahi-daemon -k ;;
stop)
    holder=$(cat "$dir/holder.pid")
    net=$(readlink "/proc/$holder/ns/net")
    for process in /proc/[0-9]*; do
        [ "$(readlink "$process/ns/net" 2>/dev/null)" = "$net" ] && kill "${process#/proc/}" 2>/dev/null
    done
    true
    ;;
*)
    echo "usage: $0 hold|run|start-bus|start-avahi|stop-avahi|stop DIR [CMD...]" >&2
    exit 2
    ;;
esac
