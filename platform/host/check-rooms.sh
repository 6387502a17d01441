#!/usr/bin/env bash
# The host stand-ins' rooms lean on the ones below them only:
#   adapters/ -> machine/ -> posix/
# A source or header of a room that includes a header of a room above it
# fails this check; posix/ includes no port and no Windows type either.
# Usage: check-rooms.sh <source root>
set -u
root=${1:?usage: check-rooms.sh <source root>}
host=$root/platform/host
status=0

# refuse <room> <pattern> <why> [<allowed>]: every #include line in the
# room's sources and headers that names a pattern match is a finding,
# unless it also names an allowed match.
refuse() {
  local room=$1 pattern=$2 why=$3 allowed=${4:-^\$} hits
  hits=$(grep -HnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($pattern)" \
    -r "$host/$room" "$host/include/platform/host/$room" 2>/dev/null |
    grep -vE "^[^:]*:[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($allowed)")
  if [ -n "$hits" ]; then
    printf '%s\n' "$hits" | sed "s|^$root/||; s|\$| <- $why|"
    status=1
  fi
}

for room in posix machine adapters; do
  if [ ! -d "$host/$room" ] || [ ! -d "$host/include/platform/host/$room" ]; then
    echo "platform/host/$room: the room or its headers are missing"
    status=1
  fi
done
# Every source sits in a room.
loose=$(find "$host" -maxdepth 1 -name '*.cpp' -printf 'platform/host/%f\n')
if [ -n "$loose" ]; then
  printf '%s\n' "$loose" | sed 's|$| <- a source outside the rooms|'
  status=1
fi

refuse machine 'platform/host/adapters/' 'machine/ includes an adapter'
refuse posix 'platform/|windows\.h' 'posix/ includes a room above it, a port or Windows types' 'platform/host/posix/'

if [ "$status" -eq 0 ]; then
  echo "rooms: adapters -> machine -> posix, no include points up"
fi
exit "$status"
