#!/bin/sh
# Runs a Windows program under Wine with a prefix of its own inside the build tree.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
set -e
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
wine=/usr/lib/wine/wine64
# The first run creates the prefix; parallel test runs wait for it instead of racing.
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  flock "$prefix.lock" sh -c "[ -f '$prefix/system.reg' ] || { '$wine' wineboot -i >/dev/null 2>&1; /usr/lib/wine/wineserver -w; }"
fi
exec "$wine" "$@"
