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
    if tr '\0' '\n' <"$environ" 2>/dev/null | grep -qxF "$marker"; then ids+=("$pid"); fi
  done
  [ ${#ids[@]} -eq 0 ] || kill -KILL "${ids[@]}" 2>/dev/null || true
}
