#!/usr/bin/env bash
# Benchmarks of the Linux build, measured side by side in one run on this
# machine; never part of the test command (bench/windows.sh measures the
# Windows build). Each figure is printed as "name: value unit" and
# written to bench/results/latest.txt (a profile, when one is made, to
# bench/results/latest-profile.txt). About 30 minutes: the tool that dies at
# once is followed from the start for BENCH_LOOP_SECONDS, and the rest runs
# beside it. Its stations watch every process with a tool's name, as
# Tolvane does: not to be run beside the end-to-end tests.
#
#   BENCH_IDLE_SECONDS    length of the idle run beside supervisord (default 600)
#   BENCH_FLOOR_SECONDS   length of the idle run beside the floor program,
#                         within the same idle run (default 150)
#   BENCH_LAUNCH_SECONDS  length of the waiting launch sequence (default 60)
#   BENCH_KILLS           kills of a tool under each supervisor (default 20)
#   BENCH_FREEZE_RUNS     tools that freeze, side by side (default 3, at most 5)
#   BENCH_LOOP_SECONDS    length of the run of a tool that dies at once
#                         (default 1800)
#   BENCH_LOOP_STANDIN    its stand-in's switches (default exit_after_ms=300)
#   BENCH_PROFILE_SECONDS length of the profile of an idle Tolvane above its
#                         floor (default 30; BENCH_PROFILE=1 profiles anyway)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib.sh"
mark_run bench
"$root/scripts/bootstrap"
"$root/scripts/build" >/dev/null
build="${TOLVANE_BUILD_DIR:-$root/build}"
idle="${BENCH_IDLE_SECONDS:-600}"
floor_window="${BENCH_FLOOR_SECONDS:-150}"
launch="${BENCH_LAUNCH_SECONDS:-60}"
kills="${BENCH_KILLS:-20}"
freeze_runs="${BENCH_FREEZE_RUNS:-3}"
loop_seconds="${BENCH_LOOP_SECONDS:-1800}"
profile_seconds="${BENCH_PROFILE_SECONDS:-30}"
[ "$freeze_runs" -le 5 ] || freeze_runs=5
[ "$freeze_runs" -ge 1 ] || freeze_runs=1
[ "$floor_window" -le "$idle" ] || floor_window="$idle"
results_dir="$root/bench/results"
mkdir -p "$results_dir"
results="$results_dir/latest.txt"
profile="$results_dir/latest-profile.txt"
{
  echo "# $(date -u +%Y-%m-%dT%H:%MZ) on $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(uname -sr)"
  echo "# idle runs ${idle} s (beside the floor ${floor_window} s), waiting launch sequence ${launch} s,"
  echo "# ${kills} kills per supervisor, ${freeze_runs} frozen tools, a tool dying at once for ${loop_seconds} s"
} > "$results"
say() { echo "$1" | tee -a "$results"; }
run_started=$EPOCHSECONDS

work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  end_marked_processes
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

tick=$(getconf CLK_TCK)
cpu_seconds() { awk -v t="$tick" '{printf "%.3f", ($14 + $15) / t}' "/proc/$1/stat" 2>/dev/null || echo 0; }
rss_mb() { awk '/VmRSS/ {printf "%.1f", $2/1024}' "/proc/$1/status"; }
pss_mb() { awk '/^Pss:/ {printf "%.1f", $2/1024}' "/proc/$1/smaps_rollup" 2>/dev/null || echo "n/a"; }
per_hour() { awk -v a="$1" -v b="$2" -v s="$3" 'BEGIN {printf "%.3f", (b - a) * 3600 / s}'; }
# The wall clock with microseconds, whatever the locale's decimal point.
now() { local t="$EPOCHREALTIME"; echo "${t/,/.}"; }

read_tool_names "$build"
tools=("${TOOL_NAMES[@]}")

# A station folder: Tolvane, Krandel, the thirty stand-ins, its own settings.
station() {
  local dir="$work/$1"
  mkdir -p "$dir/config/Vantorix"
  cp "$build/bin/Tolvane" "$dir/Tolvane"
  cp "$build/bin/Krandel" "$dir/Krandel"
  for t in "${tools[@]}"; do ln "$build/standin/standin" "$dir/$t"; done
  # Read back by every figure, also when nothing started.
  : > "$dir/standin.log"
  echo "$dir"
}
# settings FOLDER: reads "Section Idx value" lines on stdin.
settings() {
  awk '{ v[$1] = v[$1] $2 "=" $3 "\n" } END { for (s in v) printf "[%s]\n%s\n", s, v[s] }' > "$1/config/Vantorix/Tolvane.ini"
}
# "Lancer" without delay and "Vérifier" at the period of list index PERIOD
# (0: "01 Min", 1: "05 Min") for the tool indexes that follow, as settings
# lines.
launched_and_verified() {  # period index...
  local period=$1 i
  shift
  for i in "$@"; do printf 'Launch Idx_%d 1\nTempo Idx_%d 0\nCheck Idx_%d 1\nFreq Idx_%d %d\n' "$i" "$i" "$i" "$i" "$period"; done
}
# A virtual X server with a window manager; its display is XVFB_DISPLAY.
xserver() {
  start_xvfb -screen 0 1280x1024x24
  pids+=("$XVFB_PID")
  DISPLAY="$XVFB_DISPLAY" openbox >/dev/null 2>&1 &
  pids+=($!)
  sleep 0.5
}
run_tolvane() {  # folder display
  DISPLAY="$2" XDG_CONFIG_HOME="$1/config" XDG_DATA_HOME="$1/data" "$1/Tolvane" >/dev/null 2>&1 &
  local p=$!
  pids+=("$p")
  echo "$p"
}
# supervisord FOLDER DISPLAY NAME...: supervisord restarting the named
# stand-ins of FOLDER at once whenever they end; prints its process id.
run_supervisord() {
  local dir="$1" display="$2" t
  shift 2
  {
    printf '[supervisord]\nnodaemon=true\nlogfile=%s/supervisord.log\npidfile=%s/supervisord.pid\nchildlogdir=%s\n' "$dir" "$dir" "$dir"
    printf '[unix_http_server]\nfile=%s/supervisor.sock\n' "$dir"
    for t in "$@"; do
      printf '[program:%s]\ncommand=%s/%s /NoBase=0\nautorestart=true\nstartsecs=0\nenvironment=DISPLAY="%s"\nstdout_logfile=NONE\nstderr_logfile=NONE\n' \
        "$t" "$dir" "$t" "$display"
    done
  } > "$dir/supervisord.conf"
  supervisord -n -c "$dir/supervisord.conf" >/dev/null 2>&1 &
  local p=$!
  pids+=("$p")
  echo "$p"
}
# Ends a station: its supervisor first (by the id saved when it was
# started), then every process started from the station's folder (its
# tools, which a killed supervisord leaves running). A tool of the same name
# left running would be taken by the next station's Tolvane for its own
# copy, since Tolvane watches every process of the user with a tool's name.
end_station() {  # folder supervisor-pid
  local p
  kill -KILL "$2" 2>/dev/null || true
  wait "$2" 2>/dev/null || true
  for p in $(pgrep -f "^$1/" || true); do kill -KILL "$p" 2>/dev/null || true; done
}
lines_of() { { wc -l < "$1"; } 2>/dev/null || echo 0; }
starts_of() {  # standin.log name: how many starts it holds of that tool
  if [ -e "$1" ]; then awk -F'\t' -v n="$2" '$3 == n { c++ } END { print c + 0 }' "$1"; else echo 0; fi
}
# Every thread of a process: "tid cpu-ticks voluntary-switches cpu-ns
# name". A voluntary switch is the thread going to sleep, so each is one
# wake-up; the nanoseconds are the scheduler's own count of its CPU time,
# finer than the ticks (1/CLK_TCK s) of utime and stime.
thread_snapshot() {  # pid
  local t
  for t in /proc/"$1"/task/*; do
    awk -v tid="${t##*/}" '
      FILENAME ~ /\/stat$/ { sub(/^.*\) /, ""); ticks = $12 + $13; next }
      FILENAME ~ /\/schedstat$/ { ns = $1; next }
      /^Name:/ { sub(/^Name:[ \t]*/, ""); gsub(/ /, "_"); name = $0 }
      /^voluntary_ctxt_switches:/ { sw = $2 }
      END { if (name != "") print tid, ticks, sw, ns, name }' "$t/stat" "$t/schedstat" "$t/status" 2>/dev/null || true
  done
}
# "name count" lines on stdin: "total/s (name a/s, ...)" over SECONDS, the
# TOP busiest names first.
rates() {  # seconds top
  awk -v s="$1" -v top="$2" '
    { per[$1] += $2; total += $2 }
    END {
      printf "%.1f /s (", total / s
      n = 0
      for (k in per) order[++n] = k
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (per[order[j]] > per[order[i]]) { t = order[i]; order[i] = order[j]; order[j] = t }
      for (i = 1; i <= n && i <= top; i++) printf "%s%s %.1f", (i > 1 ? ", " : ""), order[i], per[order[i]] / s
      printf ")"
    }'
}
# From two snapshots over SECONDS: "total-wakeups/s (name a/s, ...)", the
# busiest threads first.
wakeups() {  # before after seconds
  awk 'FNR == NR { sw0[$1] = $3; next } { print $5, $3 - sw0[$1] }' <(echo "$1") <(echo "$2") | rates "$3" 5
}
# From two snapshots over SECONDS: the scheduler's CPU time of all threads,
# in seconds per hour.
sched_per_hour() {  # before after seconds
  awk -v s="$3" 'FNR == NR { ns0[$1] = $4; next } { total += $4 - ns0[$1] } END { printf "%.3f", total / 1e9 * 3600 / s }' \
    <(echo "$1") <(echo "$2")
}

# One display for the short runs, one for each side of the idle run.
xserver
display_main="$XVFB_DISPLAY"
xserver
display_idle="$XVFB_DISPLAY"
xserver
display_supervisord="$XVFB_DISPLAY"
xserver
display_floor="$XVFB_DISPLAY"

# 1. A tool's health, first: what is new comes first, and the tool that
#    dies at once (c) runs beside everything else.
#    c. A tool that dies at once, "Vérifier" at "01 Min": its starts and
#       its journal lines over BENCH_LOOP_SECONDS. Its Tolvane sees only its
#       own processes (a process namespace of its own, with bash reaping the
#       tools it leaves, as init does), so the other stations' copies of the
#       tool's name are not taken for its own; they see its copies, which
#       never live long enough beside theirs to matter.
loop_options="${BENCH_LOOP_STANDIN:-exit_after_ms=300}"
loop_dir=$(station looping)
loop_index=29
loop_name=${tools[$loop_index]}
echo "$loop_options" | tr ' ' '\n' > "$loop_dir/$loop_name.standin"
launched_and_verified 0 "$loop_index" | settings "$loop_dir"
xserver
loop_started=$(now)
# A process namespace needs root, or a user namespace of its own.
namespace=(--pid --fork --mount-proc --kill-child)
[ "$(id -u)" -eq 0 ] || namespace+=(--user --map-root-user)
DISPLAY="$XVFB_DISPLAY" XDG_CONFIG_HOME="$loop_dir/config" XDG_DATA_HOME="$loop_dir/data" \
  unshare "${namespace[@]}" bash -c '"$0" & wait' "$loop_dir/Tolvane" >/dev/null 2>&1 &
loop_pid=$!
pids+=("$loop_pid")
loop_end=$(awk -v t="$loop_started" -v s="$loop_seconds" 'BEGIN {printf "%d", t + s}')
# Every process started from the stations of the tools' health, twice a
# second: one line per sample, its time and the paths run by more than one
# process at once (a second copy).
copies="$work/copies.txt"
: > "$copies"
(
  while :; do
    { pgrep -a -f "^$work/health|^$work/frozen/|^$work/looping/" || true; } |
      awk -v t="$(now)" '{ n[$2]++ } END { printf "%s", t; for (p in n) if (n[p] > 1) printf " %s", p; printf "\n" }' >> "$copies"
    sleep 0.5
  done
) &
copies_sampler=$!
pids+=("$copies_sampler")

#    The stations of a and b run side by side, every tool's name in one
#    station only, since Tolvane watches every process of the user with a
#    tool's name and would take another station's copy for its own.
#    a. Restart after a kill: two Tolvanes ("Vérifier" at "01 Min" and at
#       "05 Min") and supervisord, eight tools each, one tool of each killed
#       at the same moment every 9 s, so that a tool is killed again 72 s
#       later, over a minute after its restart (an end within a minute of
#       the start would lengthen the settle). The time from the kill to the
#       new copy's start line (the stand-in writes it once its window
#       exists).
#    b. A frozen tool: stand-ins that stop answering 70 s after their start
#       (after the minute in which a new copy is never asked), under a
#       Tolvane with "Vérifier" and "Frozen" at 1 min; the time from the
#       freeze to the journal's 2050 line, to its 2052 (ended) and to the new
#       copy's start line. The new copy does not freeze.
group=8
kill_every=9
freeze_after_ms=70000
health_labels=(tolvane_01min tolvane_05min supervisord)
health_dirs=("$(station health01)" "$(station health05)" "$(station healthsup)")
health_pids=()
launched_and_verified 0 $(seq 0 $((group - 1))) | settings "${health_dirs[0]}"
health_pids+=("$(run_tolvane "${health_dirs[0]}" "$display_main")")
launched_and_verified 1 $(seq "$group" $((2 * group - 1))) | settings "${health_dirs[1]}"
health_pids+=("$(run_tolvane "${health_dirs[1]}" "$display_idle")")
health_pids+=("$(run_supervisord "${health_dirs[2]}" "$display_supervisord" "${tools[@]:$((2 * group)):$group}")")

freeze_dir=$(station frozen)
freezers=()
for k in $(seq 0 $((freeze_runs - 1))); do
  i=$((3 * group + k))
  freezers+=("${tools[$i]}")
  echo "freeze_after_ms=$freeze_after_ms" > "$freeze_dir/${tools[$i]}.standin"
done
for k in $(seq 0 $((freeze_runs - 1))); do
  i=$((3 * group + k))
  # Started a fraction of the 5 s question apart, so that the freezes fall
  # at different points of it.
  printf 'Launch Idx_%d 1\nTempo Idx_%d %d\nCheck Idx_%d 1\nFreq Idx_%d 0\nFrozen Idx_%d 1\n' \
    "$i" "$i" $((k * 5000 / freeze_runs)) "$i" "$i" "$i"
done | settings "$freeze_dir"
xserver
freeze_pid=$(run_tolvane "$freeze_dir" "$XVFB_DISPLAY")

# The frozen station's journal, each new line stamped when it appears (the
# journal's own stamps are whole seconds).
freeze_journal="$work/frozen-journal.txt"
: > "$freeze_journal"
(
  seen=0
  while :; do
    mapfile -t lines < <(cat "$freeze_dir"/data/Vantorix/Tolvane/journal/*.log 2>/dev/null || true)
    stamp=$(now)
    while [ "$seen" -lt "${#lines[@]}" ]; do
      printf '%s\t%s\n' "$stamp" "${lines[$seen]}" >> "$freeze_journal"
      seen=$((seen + 1))
    done
    sleep 0.2
  done
) &
journal_watch=$!
pids+=("$journal_watch")

# The kills start once every tool of the three runs and Tolvane's memory
# pass (every 15 s) has seen its window and watches its processes.
kill_log="$work/kills.txt"
: > "$kill_log"
for _ in $(seq 600); do
  ready=0
  for p in 0 1 2; do [ "$(lines_of "${health_dirs[$p]}/standin.log")" -ge "$group" ] && ready=$((ready + 1)); done
  [ "$ready" -eq 3 ] && break
  sleep 0.1
done
next_kill=$((EPOCHSECONDS + 30))
last_kill=$EPOCHSECONDS
round=0
health_done=0
freeze_done=0
freeze_deadline=$((EPOCHSECONDS + freeze_after_ms / 1000 + 180))
while :; do
  if [ "$round" -lt "$kills" ] && [ "$EPOCHSECONDS" -ge "$next_kill" ]; then
    j=$((round % group))
    for p in 0 1 2; do
      name=${tools[$((p * group + j))]}
      ids=$(pgrep -f "^${health_dirs[$p]}/$name( |\$)" || true)
      at=$(now)
      [ -z "$ids" ] || kill -KILL $ids 2>/dev/null || true
      echo "$at ${health_labels[$p]} $name $(echo $ids | wc -w)" >> "$kill_log"
    done
    round=$((round + 1))
    next_kill=$((next_kill + kill_every))
    last_kill=$EPOCHSECONDS
  fi
  # The kills are over once each station has started all its kills' new
  # copies, or 70 s after the last (its "01 Min" period and more).
  if [ "$health_done" -eq 0 ] && [ "$round" -ge "$kills" ]; then
    back=0
    for p in 0 1 2; do
      [ "$(lines_of "${health_dirs[$p]}/standin.log")" -ge $((group + kills)) ] && back=$((back + 1))
    done
    if [ "$back" -eq 3 ] || [ "$EPOCHSECONDS" -ge $((last_kill + 70)) ]; then
      for p in 0 1 2; do end_station "${health_dirs[$p]}" "${health_pids[$p]}"; done
      health_done=1
    fi
  fi
  if [ "$freeze_done" -eq 0 ]; then
    # Only the first copy of each freezes: the sidecar is read at start.
    again=0
    for name in "${freezers[@]}"; do
      n=$(starts_of "$freeze_dir/standin.log" "$name")
      [ "$n" -ge 1 ] && rm -f "$freeze_dir/$name.standin"
      [ "$n" -ge 2 ] && again=$((again + 1))
    done
    if [ "$again" -eq "${#freezers[@]}" ] || [ "$EPOCHSECONDS" -ge "$freeze_deadline" ]; then
      end_station "$freeze_dir" "$freeze_pid"
      freeze_done=1
    fi
  fi
  if [ "$health_done" -eq 1 ] && [ "$freeze_done" -eq 1 ]; then break; fi
  sleep 1
done
kill -KILL "$journal_watch" 2>/dev/null || true
wait "$journal_watch" 2>/dev/null || true

# Local "YYYY-MM-DD HH:MM:SS.mmm" of the stand-in's log, in seconds since
# the epoch (gawk).
epoch_fn='function epoch(s,   d, a) { d = s; gsub(/[-:]/, " ", d); split(d, a, "."); return mktime(a[1]) + a[2] / 1000 }'
# a. Each kill's restart: the first start of that tool after the kill and
#    before its next kill.
restart_figures() {  # label standin.log
  gawk -v label="$1" -v kills="$kill_log" -F'\t' "$epoch_fn"'
    BEGIN {
      while ((getline line < kills) > 0) {
        split(line, f, " ")
        if (f[2] == label) { n++; kt[n] = f[1]; kn[n] = f[3]; kp[n] = f[4] }
      }
    }
    { st[++m] = epoch($1); sn[m] = $3 }
    END {
      c = 0; missed = 0; skipped = 0
      for (i = 1; i <= n; i++) {
        if (kp[i] == 0) { skipped++; continue }
        until = 1e18
        for (j = i + 1; j <= n; j++) if (kn[j] == kn[i]) { until = kt[j]; break }
        best = -1
        for (j = 1; j <= m; j++) if (sn[j] == kn[i] && st[j] > kt[i] && st[j] < until && (best < 0 || st[j] < best)) best = st[j]
        if (best < 0) { missed++; continue }
        d[++c] = best - kt[i]
      }
      if (c > 0) {
        asort(d)
        printf "%s_restart_after_kill_median: %.2f s\n", label, d[int((c + 1) / 2)]
        printf "%s_restart_after_kill_worst: %.2f s\n", label, d[c]
      }
      printf "%s_restarts_after_kill: %d of %d kills", label, c, n - skipped
      if (missed) printf " (%d not back before its next kill or the end)", missed
      if (skipped) printf " (%d kills found nothing running)", skipped
      printf "\n"
    }' "$2"
}
# Second copies: a path run by two processes in a sample where it was not
# in the sample before, counted per station.
second_copies() {  # label folder
  awk -v dir="$2/" -v label="$1" '
    {
      delete now
      for (i = 2; i <= NF; i++) if (index($i, dir) == 1) { now[$i] = 1; if (!($i in before)) events++ }
      delete before
      for (p in now) before[p] = 1
      samples++
    }
    END { printf "%s_second_copies: %d in %d samples\n", label, events, samples }' "$copies"
}
for p in 0 1 2; do
  restart_figures "${health_labels[$p]}" "${health_dirs[$p]}/standin.log" | while read -r line; do say "$line"; done
  second_copies "${health_labels[$p]}" "${health_dirs[$p]}" | while read -r line; do say "$line"; done
done

# b. Per frozen tool: its freeze (its start plus the delay asked), the first
#    2050 and 2052 lines about it after that, and its next start.
gawk -F'\t' -v after="$freeze_after_ms" -v journal="$freeze_journal" -v names="${freezers[*]}" "$epoch_fn"'
  function list(a, n,   i, s) { s = n ? "" : "n/a"; for (i = 1; i <= n; i++) s = s sprintf("%s%.1f", (i > 1 ? " " : ""), a[i]); return s }
  function worst(a, n,   i, w) { w = 0; for (i = 1; i <= n; i++) if (a[i] > w) w = a[i]; return w }
  { if (!($3 in first)) first[$3] = epoch($1); else if (!($3 in second)) second[$3] = epoch($1) }
  END {
    k = split(names, tool, " ")
    while ((getline line < journal) > 0) { split(line, f, "\t"); jt[++m] = f[1]; jl[m] = f[2] }
    for (i = 1; i <= k; i++) {
      if (!(tool[i] in first)) { lost++; continue }
      frozen = first[tool[i]] + after / 1000
      for (e = 2050; e <= 2052; e += 2) {
        for (j = 1; j <= m; j++) if (jt[j] + 0 >= frozen && jl[j] ~ (" " e " \\[[0-9]+ " tool[i] "\\]")) break
        if (j <= m) { if (e == 2050) seen[++ns] = jt[j] - frozen; else ended[++ne] = jt[j] - frozen }
      }
      if (tool[i] in second) back[++nb] = second[tool[i]] - frozen
    }
    printf "tolvane_frozen_to_2050: %s s (%d of %d frozen tools; worst %.1f s, goal: at most 20 s)\n", list(seen, ns), ns, k, worst(seen, ns)
    printf "tolvane_frozen_to_2052: %s s (%d of %d, \"Frozen\" at 1 min)\n", list(ended, ne), ne, k
    printf "tolvane_frozen_to_running_again: %s s (%d of %d; worst %.1f s, goal: at most 70 s)\n", list(back, nb), nb, k, worst(back, nb)
  }' "$freeze_dir/standin.log" | while read -r line; do say "$line"; done
second_copies tolvane_frozen "$freeze_dir" | while read -r line; do say "$line"; done

# 2. A launch sequence waiting on a delay that is never reached.
wait_dir=$(station launchwait)
printf 'Launch Idx_0 1\nTempo Idx_0 999999999\n' | settings "$wait_dir"
wait_pid=$(run_tolvane "$wait_dir" "$display_main")

# 3. Idle supervision of thirty running tools: Tolvane against supervisord,
#    side by side, on displays of their own; and the same Tolvane against
#    the floor, a Qt program that only wakes up as often as Tolvane's clock
#    (bench_floor.cpp), on a display of its own set up as Tolvane's.
idle_dir=$(station idle)
launched_and_verified 0 $(seq 0 29) | settings "$idle_dir"
idle_pid=$(run_tolvane "$idle_dir" "$display_idle")
sup_dir=$(station supervisord)
sup_pid=$(run_supervisord "$sup_dir" "$display_supervisord" "${tools[@]}")
DISPLAY="$display_floor" "$build/bin/bench_floor" >/dev/null 2>&1 &
floor_pid=$!
pids+=("$floor_pid")

sleep 5
w0=$(cpu_seconds "$wait_pid")
sleep "$launch"
w1=$(cpu_seconds "$wait_pid")
say "tolvane_cpu_waiting_launch_sequence: $(awk -v a="$w0" -v b="$w1" 'BEGIN {printf "%.3f", b - a}') s over ${launch} s"
end_station "$wait_dir" "$wait_pid"

# Both supervisors have started their thirty tools by now.
sleep 10
t0=$(cpu_seconds "$idle_pid"); s0=$(cpu_seconds "$sup_pid"); f0=$(cpu_seconds "$floor_pid")
tolvane_threads0=$(thread_snapshot "$idle_pid"); floor_threads0=$(thread_snapshot "$floor_pid")
sleep "$floor_window"
tf=$(cpu_seconds "$idle_pid"); f1=$(cpu_seconds "$floor_pid")
tolvane_threads1=$(thread_snapshot "$idle_pid"); floor_threads1=$(thread_snapshot "$floor_pid")
[ "$idle" -le "$floor_window" ] || sleep $((idle - floor_window))
t1=$(cpu_seconds "$idle_pid"); s1=$(cpu_seconds "$sup_pid")
tol_h=$(per_hour "$t0" "$t1" "$idle"); sup_h=$(per_hour "$s0" "$s1" "$idle")
say "tolvane_idle_cpu_30_tools: $tol_h s/h"
say "supervisord_idle_cpu_30_tools: $sup_h s/h"
say "idle_cpu_ratio_tolvane_to_supervisord: $(awk -v a="$tol_h" -v b="$sup_h" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "n/a"}')"
tol_fh=$(per_hour "$t0" "$tf" "$floor_window"); floor_h=$(per_hour "$f0" "$f1" "$floor_window")
floor_ratio=$(awk -v a="$tol_fh" -v b="$floor_h" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "n/a"}')
tol_sched=$(sched_per_hour "$tolvane_threads0" "$tolvane_threads1" "$floor_window")
floor_sched=$(sched_per_hour "$floor_threads0" "$floor_threads1" "$floor_window")
say "tolvane_idle_cpu_beside_floor: $tol_fh s/h over ${floor_window} s (utime+stime of all threads; $tol_sched s/h by the scheduler's count)"
say "floor_idle_cpu: $floor_h s/h over ${floor_window} s (bench_floor: a minimised label, an empty 250 ms timer; $floor_sched s/h by the scheduler's count)"
say "idle_cpu_ratio_tolvane_to_floor: $floor_ratio (goal: at most 1.5; $(awk -v a="$tol_sched" -v b="$floor_sched" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "n/a"}') by the scheduler's count)"
say "tolvane_idle_wakeups: $(wakeups "$tolvane_threads0" "$tolvane_threads1" "$floor_window")"
say "floor_idle_wakeups: $(wakeups "$floor_threads0" "$floor_threads1" "$floor_window")"
say "tolvane_rss: $(rss_mb "$idle_pid") MB"
say "tolvane_pss: $(pss_mb "$idle_pid") MB"
say "supervisord_rss: $(rss_mb "$sup_pid") MB"
say "supervisord_pss: $(pss_mb "$sup_pid") MB"
end_station "$sup_dir" "$sup_pid"

# Where an idle Tolvane's CPU above the floor goes: the system calls of both
# over the same seconds (strace -c; it slows what it traces, so only after
# the figures above), then where Tolvane's own CPU is spent (perf, sampled
# every 20 µs of its CPU time: an idle Tolvane uses too little for a
# sampling by the wall clock to say anything). Written to
# bench/results/latest-profile.txt.
if [ "${BENCH_PROFILE:-0}" = 1 ] || awk -v r="$floor_ratio" 'BEGIN {exit !(r != "n/a" && r > 1.5)}'; then
  {
    echo "# Idle Tolvane (thirty tools, \"Vérifier\" at \"01 Min\") and bench_floor, $(date -u +%Y-%m-%dT%H:%MZ)"
    echo "# Threads over the ${floor_window} s beside the floor (tid cpu-ticks voluntary-switches name), before and after:"
    echo "## Tolvane"; echo "$tolvane_threads0"; echo "$tolvane_threads1"
    echo "## bench_floor"; echo "$floor_threads0"; echo "$floor_threads1"
  } > "$profile"
  if command -v strace >/dev/null; then
    timeout -s INT "$profile_seconds" strace -f -c -o "$work/strace-tolvane.txt" -p "$idle_pid" >/dev/null 2>&1 &
    st1=$!
    timeout -s INT "$profile_seconds" strace -f -c -o "$work/strace-floor.txt" -p "$floor_pid" >/dev/null 2>&1 &
    st2=$!
    wait "$st1" "$st2" || true
    for side in tolvane floor; do
      echo "## strace -c -f over ${profile_seconds} s: $side" >> "$profile"
      cat "$work/strace-$side.txt" >> "$profile" 2>/dev/null || true
      # "name calls/s" of the four most frequent calls.
      if [ -s "$work/strace-$side.txt" ]; then
        say "${side}_idle_syscalls: $(awk '$1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" { print $NF, $4 }' \
          "$work/strace-$side.txt" | rates "$profile_seconds" 4)"
      else
        say "${side}_idle_syscalls: n/a"
      fi
    done
  else
    say "tolvane_idle_syscalls: strace is not installed"
  fi
  if command -v perf >/dev/null &&
     perf record -e task-clock -c 20000 -g -p "$idle_pid" -o "$work/perf.data" -- sleep "$profile_seconds" >/dev/null 2>&1; then
    {
      echo "## perf, Tolvane's own CPU over ${profile_seconds} s, by library"
      perf report -i "$work/perf.data" --stdio --no-children -g none --sort dso --percent-limit 1 2>/dev/null | grep -v '^$'
      echo "## by function"
      perf report -i "$work/perf.data" --stdio --no-children -g none --sort dso,sym --percent-limit 0.5 2>/dev/null | grep -v '^$'
      echo "## Tolvane's own functions with all they call (children, self)"
      perf report -i "$work/perf.data" --stdio --children -g none --sort sym --percent-limit 1 2>/dev/null | grep 'tolvane::' || true
    } >> "$profile"
    say "tolvane_idle_profile_by_library: $(perf report -i "$work/perf.data" --stdio --no-children -g none --sort dso --percent-limit 5 2>/dev/null |
      awk '!/^#/ && NF >= 2 { printf "%s%s %s", n++ ? ", " : "", $2, $1 }')"
  else
    echo "## perf: not installed or not allowed here" >> "$profile"
  fi
  say "tolvane_idle_profile: ${profile#"$root"/}"
fi
kill -KILL "$floor_pid" 2>/dev/null || true
wait "$floor_pid" 2>/dev/null || true

# 4. Work per tick over the thirty running tools (median of 1000 passes).
DISPLAY="$display_idle" "$build/bin/bench_passes" "$idle_dir" 1000 | while read -r line; do say "$line"; done
# The same idle hour compressed: its ticks' handlers back to back, without
# the wake-ups between them; minimised as it starts, then shown (the clock
# drawn every second), then minimised with a metrics folder (every window
# asked at each memory pass, the file written).
for shown in "" shown metrics; do
  DISPLAY="$display_idle" XDG_DATA_HOME="$idle_dir/data" "$build/bin/bench_idle_hour" "$idle_dir" $shown 2>/dev/null | while read -r line; do say "$line"; done
done
end_station "$idle_dir" "$idle_pid"

# 5. Launch exactness: thirty tools with delays 0 to 29 s.
exact_dir=$(station exact)
for i in $(seq 0 29); do printf 'Launch Idx_%d 1\nTempo Idx_%d %d000\n' $i $i $i; done | settings "$exact_dir"
launched=$(date +%H:%M:%S.%3N)
exact_pid=$(run_tolvane "$exact_dir" "$display_main")
for _ in $(seq 400); do [ "$( { wc -l < "$exact_dir/standin.log"; } 2>/dev/null || echo 0)" -ge 30 ] && break; sleep 0.1; done
end_station "$exact_dir" "$exact_pid"
# Lateness of each start against its delay, counted from the command that
# started Tolvane (so Qt's start-up and the loading are in it), and the
# spread between the earliest and the latest: the launch timer's 100 ms
# ticks show as up to 100 ms of spread, a slow pass as more.
awk -F'\t' -v t0="$launched" '
  function ms(t,   h) { split(t, h, ":"); return (h[1] * 3600 + h[2] * 60 + h[3]) * 1000 }
  { name[NR] = $3; at[NR] = ms(substr($1, 12)) }
  END {
    split("'"${tools[*]}"'", order, " ")
    for (i = 1; i <= 30; i++) delay[order[i]] = (i - 1) * 1000
    n = 0
    for (r = 1; r <= NR; r++) { late[++n] = at[r] - ms(t0) - delay[name[r]] }
    asort(late)
    printf "launch_lateness_median: %d ms\nlaunch_lateness_max: %d ms\nlaunch_lateness_spread: %d ms\nlaunch_starts_seen: %d\n", late[int((n + 1) / 2)], late[n], late[n] - late[1], n
  }' "$exact_dir/standin.log" | while read -r line; do say "$line"; done

# 6. Batch start lateness over ten runs: ten Tolvanes side by side, each
#    with the Scheduler page due at 10:15 every day and its wall clock
#    (libfaketime, shifted but not sped up, so that the stand-in it starts
#    shares it) put 14 to 41 s before that instant, so the instant falls at
#    a different point of each one's 30 s batch clock.
faketime_lib=""
for f in /usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 /usr/lib/aarch64-linux-gnu/faketime/libfaketime.so.1 \
         /usr/lib/faketime/libfaketime.so.1; do
  [ -e "$f" ] && faketime_lib="$f" && break
done
if [ -n "$faketime_lib" ]; then
  instant=$(date -d "tomorrow 10:15:00" +%s)
  batch_pids=()
  batch_dirs=()
  for k in $(seq 0 9); do
    dir=$(station "batch$k")
    { for d in $(seq 0 7); do echo "CheckSchedulerJour Idx_$d 1"; done
      echo "CheckSchedulerTiming Idx_0 10"; echo "CheckSchedulerTiming Idx_1 1"; } | settings "$dir"
    offset=$((instant - (14 + 3 * k) - $(date +%s)))
    DISPLAY="$display_main" XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/data" LD_PRELOAD="$faketime_lib" FAKETIME="+$offset" \
      FAKETIME_DONT_FAKE_MONOTONIC=1 "$dir/Tolvane" >/dev/null 2>&1 &
    batch_pids+=($!)
    pids+=($!)
    batch_dirs+=("$dir")
  done
  for _ in $(seq 900); do
    n=0
    for dir in "${batch_dirs[@]}"; do [ -s "$dir/standin.log" ] && n=$((n + 1)); done
    [ "$n" -ge 10 ] && break
    sleep 0.1
  done
  kill -KILL "${batch_pids[@]}" 2>/dev/null || true
  wait "${batch_pids[@]}" 2>/dev/null || true
  for dir in "${batch_dirs[@]}"; do end_station "$dir" ""; done
  # (if, not &&: a last station without a start must not fail the pipe)
  for dir in "${batch_dirs[@]}"; do if [ -s "$dir/standin.log" ]; then head -n 1 "$dir/standin.log"; fi; done |
    awk -F'\t' '
      { split(substr($1, 12), h, ":"); late[++n] = ((h[1] * 3600 + h[2] * 60 + h[3]) - (10 * 3600 + 15 * 60)) * 1000 }
      END {
        if (n == 0) { print "batch_start_runs: 0 of 10"; exit }
        asort(late)
        printf "batch_start_lateness_median: %d ms\nbatch_start_lateness_max: %d ms\nbatch_start_runs: %d of 10 (bound: the 30 s batch clock)\n", late[int((n + 1) / 2)], late[n], n
      }' | while read -r line; do say "$line"; done
else
  say "batch_start_lateness: libfaketime is not installed"
fi

# 7. Krandel's ten-second wait, three times: its CPU (user + system, from
#    the system's own account of the ended process) and its wall time.
kr_dir="$work/krandel"
mkdir -p "$kr_dir"
cp "$build/bin/Krandel" "$kr_dir/Krandel"
ln "$build/standin/standin" "$kr_dir/Tolvane"
kr_runs=""
for _ in 1 2 3; do
  kr_runs+="$( { TIMEFORMAT='%R %U %S'; time DISPLAY="$display_main" "$kr_dir/Krandel" >/dev/null 2>&1; } 2>&1 | tail -n 1)"$'\n'
done
echo -n "$kr_runs" | awk '
  { wall[NR] = $1; cpu[NR] = $2 + $3; if (cpu[NR] > max) max = cpu[NR]; if ($1 > wmax) wmax = $1 }
  END {
    printf "krandel_wait_cpu:"; for (i = 1; i <= NR; i++) printf " %.3f", cpu[i]; printf " s (max %.3f)\n", max
    printf "krandel_wall_max: %.2f s\n", wmax
  }' | while read -r line; do say "$line"; done
# 1c. The tool that dies at once: once its time is over, its starts, those
#     after its first ten minutes per minute, and every journal line about
#     it in that time.
while [ "$EPOCHSECONDS" -lt "$loop_end" ]; do sleep 1; done
loop_stopped=$(now)
end_station "$loop_dir" "$loop_pid"
kill -KILL "$copies_sampler" 2>/dev/null || true
wait "$copies_sampler" 2>/dev/null || true
# Counted over BENCH_LOOP_SECONDS from its Tolvane's start, also when the
# rest of the run took longer.
loop_until=$(awk -v t="$loop_started" -v s="$loop_seconds" 'BEGIN {printf "%.3f", t + s}')
gawk -F'\t' -v name="$loop_name" -v t0="$loop_started" -v t1="$loop_until" "$epoch_fn"'
  $3 == name { t = epoch($1); if (t <= t1) { all++; if (t >= t0 + 600) late++ } }
  END {
    printf "looping_tool_starts: %d in %.0f s (its stand-in: %s)\n", all, t1 - t0, options
    if (t1 - t0 >= 660)
      printf "looping_tool_starts_per_minute_after_10_min: %.2f /min over %.0f s (goal: at most 1)\n", late * 60 / (t1 - t0 - 600), t1 - t0 - 600
    else
      printf "looping_tool_starts_per_minute_after_10_min: n/a (a run of %.0f s; %.2f /min over it all)\n", t1 - t0, all * 60 / (t1 - t0)
  }' options="$loop_options" "$loop_dir/standin.log" | while read -r line; do say "$line"; done
cat "$loop_dir"/data/Vantorix/Tolvane/journal/*.log 2>/dev/null |
  gawk -v name="$loop_name" -v t1="$loop_until" '
    # "2026-12-08 03:12:45 +0100 2004 [6 NAME] ...", stamped in whole seconds.
    $5 ~ /^\[[0-9]+$/ && $6 == name "]" { d = $1 " " $2; gsub(/[-:]/, " ", d); if (mktime(d) <= t1) print }' > "$work/loop-lines.txt" || true
say "looping_tool_journal_lines: $(wc -l < "$work/loop-lines.txt") ($(awk '{ n[$4]++ } END { for (e in n) printf "%s%s x%d", k++ ? ", " : "", e, n[e]; if (!NR) printf "none" }' "$work/loop-lines.txt"); goal: at most 5)"
sed 's/^/#   /' "$work/loop-lines.txt" >> "$results"
second_copies looping_tool "$loop_dir" | while read -r line; do say "$line"; done
echo "# the run took $((EPOCHSECONDS - run_started)) s" >> "$results"
echo "Figures written to $results"
