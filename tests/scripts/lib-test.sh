#!/usr/bin/env bash
# What the scripts share (scripts/lib.sh): the tools' names the build writes
# and how they are read, X servers on displays they pick themselves, and
# wine found where Debian puts it. Usage: lib-test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source "$1/scripts/lib.sh"
build="$2"
work="$(mktemp -d)"
started=()
cleanup() {
  local p
  for p in "${started[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The build's list: every tool once, in the table's order (index 0 is the
# library, 29 the last tool; the settings keys Idx_0..Idx_29 count on it).
if read_tool_names "$build"; then
  [ "${#TOOL_NAMES[@]}" -eq 30 ] || fail "the build's list holds ${#TOOL_NAMES[@]} names, not thirty"
  [ "$(printf '%s\n' "${TOOL_NAMES[@]}" | sort -u | wc -l)" -eq "${#TOOL_NAMES[@]}" ] || fail "a name is listed twice"
  [ "${TOOL_NAMES[0]:-}" = VX8_Library ] || fail "index 0 is ${TOOL_NAMES[0]:-nothing}, not VX8_Library"
else
  fail "the build's list ($build/tool-names.txt) was refused"
fi

# A list that would lay out a wrong station is refused, and leaves no names.
mkdir -p "$work/missing" "$work/empty" "$work/blank" "$work/path" "$work/good"
: >"$work/empty/tool-names.txt"
printf 'VX8_Library\nVX8 Player\n' >"$work/blank/tool-names.txt"
printf 'VX8_Library\n../VX8_Player\n' >"$work/path/tool-names.txt"
for bad in missing empty blank path; do
  TOOL_NAMES=(left over)
  if read_tool_names "$work/$bad" 2>/dev/null; then fail "a $bad list was taken"; fi
  [ "${#TOOL_NAMES[@]}" -eq 0 ] || fail "a $bad list left names behind: ${TOOL_NAMES[*]}"
done
printf 'B_Tool\nA_Tool\n' >"$work/good/tool-names.txt"
read_tool_names "$work/good" || fail "a good list was refused"
[ "${TOOL_NAMES[*]}" = "B_Tool A_Tool" ] || fail "the list's order was not kept: ${TOOL_NAMES[*]}"

# Two servers started at once get displays of their own, each answering;
# ended by its id, a server's display stops answering.
start_xvfb -screen 0 640x480x24 || fail "no X server started"
first_pid="$XVFB_PID" first="$XVFB_DISPLAY"
started+=("$first_pid")
start_xvfb -screen 0 640x480x24 || fail "no second X server started"
second_pid="$XVFB_PID" second="$XVFB_DISPLAY"
started+=("$second_pid")
[[ "$first" =~ ^:[0-9]+$ ]] || fail "display \"$first\" is not a display name"
[ "$first" != "$second" ] || fail "both servers were given $first"
DISPLAY="$first" xdpyinfo >/dev/null 2>&1 || fail "$first does not answer"
DISPLAY="$second" xdpyinfo >/dev/null 2>&1 || fail "$second does not answer"
kill "$first_pid"
wait "$first_pid" 2>/dev/null
DISPLAY="$first" xdpyinfo >/dev/null 2>&1 && fail "$first still answers after its server was ended"
DISPLAY="$second" xdpyinfo >/dev/null 2>&1 || fail "ending the first server ended $second too"

# A server that cannot start gives no display, and the call says so.
if start_xvfb -no-such-option 2>/dev/null; then
  started+=("$XVFB_PID")
  fail "a server with a bad option gave display $XVFB_DISPLAY"
fi
[ -z "$XVFB_DISPLAY" ] || fail "a failed start left XVFB_DISPLAY=$XVFB_DISPLAY"

# wine (scripts/bootstrap installs Debian's wine64) is found with its server.
if find_wine; then
  [ -x "$WINE" ] || fail "WINE=$WINE is not a program"
  [ -x "$WINESERVER" ] || fail "WINESERVER=$WINESERVER is not a program"
  [[ "$("$WINE" --version 2>/dev/null)" == wine-* ]] || fail "$WINE --version does not name wine"
else
  fail "wine was not found"
fi

[ "$failures" -eq 0 ] && echo "lib.sh ok: displays $first and $second, $WINE"
[ "$failures" -eq 0 ]
