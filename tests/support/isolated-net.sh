#!/bin/sh
# Runs a command in a network namespace of its own: loopback up, and 192.0.2.0/24 routed into
# loopback where nothing answers, so that "a host that does not answer" exists on any machine.
# Exits 77 (skipped) when namespaces are not permitted to an ordinary user; as root they must work, so there a
# failure to make one fails the test.
cannot() {
    echo "isolated-net.sh: $*" >&2
    [ "$(id -u)" = 0 ] && exit 1
    exit 77
}
if [ "$1" != "--inside" ]; then
    unshare -n true 2>/dev/null || cannot "no network namespace (unshare -n)"
    exec unshare -n sh "$0" --inside "$@"
fi
shift
ip link set lo up || cannot "cannot bring the loopback up"
ip route add 192.0.2.0/24 dev lo || cannot "cannot route 192.0.2.0/24 into the loopback"
exec "$@"
