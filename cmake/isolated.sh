#!/bin/sh
# Runs a command in a network namespace of its own with only loopback up, so that nothing it
# starts (a Wine program, the wineserver that creates its sockets) can reach a network. Root
# makes the namespace directly, another user through a user namespace; when neither works the
# command does not run and the test fails.
set -e
if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net -- sh -c 'ip link set lo up && exec "$@"' isolated "$@"
fi
exec unshare --map-root-user --net -- sh -c 'ip link set lo up && exec "$@"' isolated "$@"
