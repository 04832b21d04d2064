#!/usr/bin/env bash
# Both builds of Narvo.dll registered in one prefix, as on a 64-bit Windows where 32-bit and 64-bit
# browsers run side by side: each bitness's cscript gets the server of its own bitness, the type
# library has one module per platform, and unregistering one build leaves the other working.
#   side-by-side.sh DLL32 DLL64
# Skips (77) when the 64-bit build has not been built next to this one.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/env.sh"
narvo_hold_registry "$0" "$@"
dll32=$(realpath "$1")
if [ ! -f "$2" ]; then
  echo "side-by-side: no 64-bit build at $2; build the win64 preset first"
  exit 77
fi
dll64=$(realpath "$2")
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }
system32='C:\windows\system32' syswow64='C:\windows\syswow64'

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'abc' > "$work/abc.txt"
failures=0
regsvr() { # BITS [/u]
  local system=$system32
  [ "$1" = 32 ] && system=$syswow64
  local dll=$dll64
  [ "$1" = 32 ] && dll=$dll32
  "$NARVO_WINE" "$system\\regsvr32.exe" /s ${2:+"$2"} "$(winpath "$dll")" ||
    { echo "FAIL regsvr32 $* ended with $?"; failures=$((failures + 1)); }
}
# probe STEP BITS OBJECT SERVER WIN32 WIN64: what that bitness's cscript sees.
probe() {
  local step=$1 system=$system32
  [ "$2" = 32 ] && system=$syswow64
  local got expected
  got=$("$NARVO_WINE" "$system\\cscript.exe" //nologo "$(winpath "$here/which-server.js")" \
          "$(winpath "$work/abc.txt")" 2>&1 | tr -d '\r')
  expected=$(printf 'object=%s\nserver=%s\nwin32=%s\nwin64=%s' "$3" "$4" "$5" "$6")
  if [ "$got" != "$expected" ]; then
    echo "FAIL $step, $2-bit client:"
    echo "  got:      ${got//$'\n'/ }"
    echo "  expected: ${expected//$'\n'/ }"
    failures=$((failures + 1))
  fi
}
w32=$(winpath "$dll32") w64=$(winpath "$dll64")

regsvr 64
regsvr 32
probe "both registered" 32 yes "$w32" "$w32" "$w64"
probe "both registered" 64 yes "$w64" "$w32" "$w64"

regsvr 32 /u
probe "32-bit build unregistered" 32 no none none none
probe "32-bit build unregistered" 64 yes "$w64" none "$w64"

regsvr 32
regsvr 64 /u
probe "64-bit build unregistered" 64 no none none none
probe "64-bit build unregistered" 32 yes "$w32" "$w32" none

# Leave both registered, as every other test of either build expects.
regsvr 64
probe "both registered again" 64 yes "$w64" "$w32" "$w64"
[ "$failures" -eq 0 ] && echo "all checks passed"
exit $((failures > 0))
