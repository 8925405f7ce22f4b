# Shared by the scripts (sourced, not run).

# Marks this run: every process the script starts, and whatever those start
# in turn (the tools Tolvane starts in sessions of their own, wine's server),
# inherits the marker in its environment.
mark_run() {
  export TOLVANE_RUN_MARKER="$1-$$-$RANDOM$RANDOM"
}

# Ends, by their ids, the processes that carry this run's marker: only what
# this run started, never a developer's own demo or another run of the same
# script from the same folder.
end_marked_processes() {
  [ -n "${TOLVANE_RUN_MARKER:-}" ] || return 0
  local marker="TOLVANE_RUN_MARKER=$TOLVANE_RUN_MARKER" ids=() environ pid
  for environ in /proc/[0-9]*/environ; do
    pid="${environ#/proc/}"
    pid="${pid%/environ}"
    [ "$pid" = "$$" ] || [ "$pid" = "$BASHPID" ] && continue
    # Standard error first: for a process that ended meanwhile the
    # redirection itself fails, and says so on whatever stderr is by then.
    if tr '\0' '\n' 2>/dev/null <"$environ" | grep -qxF "$marker"; then ids+=("$pid"); fi
  done
  [ ${#ids[@]} -eq 0 ] || kill -KILL "${ids[@]}" 2>/dev/null || true
}

# Reads the tools' executable base names, in the tool table's index order,
# into the array TOOL_NAMES. The build writes them from the table itself
# (BUILD/tool-names.txt, scripts/tool-names.cpp), so no script keeps a copy
# that could fall behind a renamed tool. Fails, saying why, when the list is
# missing or holds anything but plain names: a station laid out from a bad
# list would lack tools the test or benchmark expects to be there.
read_tool_names() {  # BUILD_DIR
  local list="$1/tool-names.txt" name
  TOOL_NAMES=()
  if [ ! -s "$list" ]; then
    echo "$list is missing or empty: build first (scripts/build)" >&2
    return 1
  fi
  mapfile -t TOOL_NAMES <"$list"
  for name in "${TOOL_NAMES[@]}"; do
    if [[ ! "$name" =~ ^[A-Za-z0-9_]+$ ]]; then
      echo "$list: \"$name\" is not a tool name" >&2
      TOOL_NAMES=()
      return 1
    fi
  done
}

# Starts Xvfb on a display number the server picks itself (-displayfd), so
# runs side by side never race for one. Extra arguments go to Xvfb (the
# screen, -noreset). Sets XVFB_PID, by which the caller ends it, and
# XVFB_DISPLAY (":N"), once the server accepts connections.
start_xvfb() {
  local numbers n="" state _
  numbers="$(mktemp "${TMPDIR:-/tmp}/tolvane-display.XXXXXX")"
  Xvfb -displayfd 3 -nolisten tcp "$@" 3>"$numbers" >/dev/null 2>&1 &
  XVFB_PID=$!
  XVFB_DISPLAY=""
  # The number comes as one line once the server listens; a server that
  # died (no free display, a bad argument) never writes it.
  for _ in $(seq 300); do
    if IFS= read -r n <"$numbers" && [ -n "$n" ]; then break; fi
    n=""
    # An ended server stays a zombie until waited for: read its state.
    state="$(sed 's/.*) //' "/proc/$XVFB_PID/stat" 2>/dev/null | cut -d' ' -f1 || true)"
    [ -n "$state" ] && [ "$state" != Z ] || break
    sleep 0.1
  done
  rm -f "$numbers"
  if [ -z "$n" ]; then
    echo "Xvfb gave no display number" >&2
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    return 1
  fi
  XVFB_DISPLAY=":$n"
}

# Finds wine's 64-bit loader and its server, which Debian keeps out of PATH
# (in /usr/lib/wine/, package wine64). Sets WINE and WINESERVER.
find_wine() {
  local candidate
  WINE="$(command -v wine64 || true)"
  if [ -z "$WINE" ]; then
    for candidate in /usr/lib/wine/wine64 $(dpkg -L wine64 2>/dev/null | grep '/wine64$' || true); do
      if [ -x "$candidate" ]; then WINE="$candidate"; break; fi
    done
  fi
  if [ -z "$WINE" ]; then
    echo "wine64 not found (Debian package wine64; scripts/bootstrap installs it)" >&2
    return 1
  fi
  WINESERVER="$(dirname "$WINE")/wineserver"
  [ -x "$WINESERVER" ] || WINESERVER="$(dirname "$WINE")/wineserver64"
  [ -x "$WINESERVER" ] || WINESERVER="$(command -v wineserver || true)"
  if [ -z "$WINESERVER" ]; then
    echo "wineserver not found beside $WINE" >&2
    return 1
  fi
}
