#!/bin/sh
# Runs a Windows program under Wine for CTest (the cross-compiling emulator),
# headless and in a prefix of the build tree, so that no test touches ~/.wine.
#
#   wine_run.sh WINE PREFIX PROGRAM [ARGS...]
#
# The prefix's Wine server is kept up until 30 s after its last program, so
# that each test does not start Wine's services anew (a fifth of a second per
# test instead of seconds). The server and the services are started under a
# lock, detached from the test's output: a program that inherited CTest's
# pipe would keep CTest waiting until it ends. The first start creates the
# prefix; what Wine says then (a notice about syswow64\rundll32.exe among
# others) goes to PREFIX.log.
set -eu
wine="$1"; prefix="$2"; shift 2
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
wineserver="$(dirname "$wine")/wineserver"
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  # 0 when it started a server, 2 when one was running.
  if "$wineserver" -p30 </dev/null >/dev/null 2>&1 9>&-; then
    "$wine" cmd /c exit </dev/null >>"$prefix.log" 2>&1 9>&- ||
      { cat "$prefix.log" >&2; exit 1; }
  fi
) 9>"$prefix.lock"
exec "$wine" "$@"
