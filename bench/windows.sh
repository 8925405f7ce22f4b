#!/usr/bin/env bash
# Figures of the Windows build, measured on this machine; never part of the
# test command (bench/linux.sh measures the Linux build). Prints
# "name: value unit" lines and writes them to bench/results/windows.txt.
#
#   BENCH_IDLE_SECONDS   length of the idle run (default 600)
#
# Under wine a program's CPU and memory are wine's, not Windows': the idle
# figure is Tolvane.exe's own process, and wineserver (which serves every
# wine process of the prefix, the thirty stand-ins included) is given apart.
set -euo pipefail
[ -n "${BENCH_TRACE:-}" ] && set -x
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib.sh"
mark_run bench-windows
"$root/scripts/build-windows" >/dev/null 2>&1
"$root/scripts/build" >/dev/null
build="${TOLVANE_BUILD_DIR:-$root/build}"
wbuild="${TOLVANE_WINDOWS_BUILD_DIR:-$root/build-windows}"
idle="${BENCH_IDLE_SECONDS:-600}"
mkdir -p "$root/bench/results"
results="$root/bench/results/windows.txt"
echo "# $(date -u +%Y-%m-%dT%H:%MZ) on $(nproc) cores, idle run ${idle} s" >"$results"
say() { echo "$1" | tee -a "$results"; }

find_wine
work="$(mktemp -d)"
pids=()
cleanup() {
  WINEPREFIX="$work/prefix" timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  end_marked_processes
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

tick=$(getconf CLK_TCK)
cpu_seconds() { awk -v t="$tick" '{printf "%.3f", ($14 + $15) / t}' "/proc/$1/stat" 2>/dev/null || echo 0; }
per_hour() { awk -v a="$1" -v b="$2" -v s="$3" 'BEGIN {printf "%.2f", (b - a) * 3600 / s}'; }
mb() { awk -v b="$1" 'BEGIN {printf "%.1f", b / 1048576}'; }

# Sizes, and Qt's build time as its cache entry recorded it.
say "windows_deploy_folder: $(mb "$(du -sb "$wbuild/deploy" | cut -f1)") MB"
say "windows_msi: $(mb "$(stat -c %s "$(ls "$wbuild"/Tolvane-*-x64.msi | tail -n1)")") MB"
say "windows_zip: $(mb "$(stat -c %s "$(ls "$wbuild"/Tolvane-*-x64.zip | tail -n1)")") MB"
qt="$("$root/scripts/qt-windows" 2>/dev/null | tail -n1)"
warm_start=$(date +%s.%N)
"$root/scripts/qt-windows" >/dev/null 2>&1
say "qt_windows_warm: $(awk -v a="$warm_start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.2f", b - a}') s"
say "qt_windows_cold: $(sed -n 's/^build seconds \([0-9]*\).*/\1 s/p' "$(dirname "$qt")/build-info" | grep . || echo "not recorded by this cache entry")"

# The tools' names, from the Linux build's list (the Windows names add ".exe").
read_tool_names "$build"
tools=("${TOOL_NAMES[@]}")

# A virtual X server with a window manager; its display is XVFB_DISPLAY.
xserver() {
  start_xvfb -screen 0 1280x1024x24
  pids+=("$XVFB_PID")
  DISPLAY="$XVFB_DISPLAY" openbox >/dev/null 2>&1 &
  pids+=($!)
  sleep 0.5
}
xserver
display_wine="$XVFB_DISPLAY"
xserver
display_linux="$XVFB_DISPLAY"

export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
export DISPLAY="$display_wine"
mkdir -p "$WINEPREFIX"
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
"$WINE" wineboot --init >/dev/null 2>&1 </dev/null
"$WINE" winecfg -v win10 >/dev/null 2>&1 </dev/null

folder="$WINEPREFIX/drive_c/Vantorix Bench"
mkdir -p "$folder"
cp "$wbuild/deploy/Tolvane.exe" "$wbuild/deploy/Krandel.exe" "$folder/"
standin="$(find "$wbuild" -name standin.exe -path '*standin*' | head -n1)"
for t in "${tools[@]}"; do cp "$standin" "$folder/$t.exe"; done

# Start to window: from the command to the caption's window on the display,
# three runs (the first loads everything from disk), nothing to launch.
for run in 1 2 3; do
  t0=$(date +%s.%N)
  "$WINE" 'C:\Vantorix Bench\Tolvane.exe' >/dev/null 2>&1 </dev/null &
  p=$!
  for _ in $(seq 600); do
    xdotool search --name '^Vantorix: Tools Launcher - ' >/dev/null 2>&1 && break
    sleep 0.05
  done
  say "wine_tolvane_start_to_window_run$run: $(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN {printf "%.2f", b - a}') s"
  "$WINE" taskkill /f /im Tolvane.exe >/dev/null 2>&1 </dev/null || true
  wait "$p" 2>/dev/null || true
  # The next run must not find this run's window.
  for _ in $(seq 200); do
    xdotool search --name '^Vantorix: Tools Launcher - ' >/dev/null 2>&1 || break
    sleep 0.05
  done
done

# Idle: thirty tools running, each verified every minute, under wine and, in
# the same run, on Linux.
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  for section in Launch Tempo Check Freq; do
    printf '[HKEY_CURRENT_USER\\Software\\Vantorix\\Tolvane\\%s]\r\n' "$section"
    for i in $(seq 0 29); do
      case $section in Launch|Check) v=1 ;; *) v=0 ;; esac
      printf '"Idx_%d"="%d"\r\n' "$i" "$v"
    done
    printf '\r\n'
  done
} >"$work/settings.reg"
"$WINE" reg import "$(sed 's|^|Z:|; s|/|\\|g' <<<"$work/settings.reg")" >/dev/null 2>&1 </dev/null
"$WINE" 'C:\Vantorix Bench\Tolvane.exe' >/dev/null 2>&1 </dev/null &
pids+=($!)

linux="$work/linux"
mkdir -p "$linux/config/Vantorix"
cp "$build/bin/Tolvane" "$build/bin/Krandel" "$linux/"
for t in "${tools[@]}"; do ln "$build/standin/standin" "$linux/$t"; done
for section in Launch Tempo Check Freq; do
  echo "[$section]"
  for i in $(seq 0 29); do
    case $section in Launch|Check) echo "Idx_$i=1" ;; *) echo "Idx_$i=0" ;; esac
  done
done >"$linux/config/Vantorix/Tolvane.ini"
DISPLAY="$display_linux" XDG_CONFIG_HOME="$linux/config" XDG_DATA_HOME="$linux/data" "$linux/Tolvane" >/dev/null 2>&1 &
linux_pid=$!
pids+=("$linux_pid")

# Both have started their thirty tools (a minute at most), then settle.
for _ in $(seq 120); do
  [ "$(pgrep -fc 'Vantorix Bench\\VX8_' || true)" -ge 30 ] && [ "$(pgrep -fc "^$linux/VX8_" || true)" -ge 30 ] && break
  sleep 0.5
done
sleep 10
wine_pid=$(pgrep -f 'Vantorix Bench\\Tolvane.exe' || true)
wine_pid=${wine_pid%%$'\n'*}
server_pid=""
for p in $(pgrep -f wineserver || true); do
  if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then server_pid=$p; break; fi
done
[ -n "$wine_pid" ] || { echo "windows.sh: Tolvane.exe is not running under wine" >&2; exit 1; }
say "wine_tools_running: $(pgrep -fc 'Vantorix Bench\\VX8_' || true) of 30"
w0=$(cpu_seconds "$wine_pid"); s0=$(cpu_seconds "${server_pid:-0}"); l0=$(cpu_seconds "$linux_pid")
sleep "$idle"
w1=$(cpu_seconds "$wine_pid"); s1=$(cpu_seconds "${server_pid:-0}"); l1=$(cpu_seconds "$linux_pid")
say "wine_tolvane_idle_cpu_30_tools: $(per_hour "$w0" "$w1" "$idle") s/h"
say "wine_wineserver_idle_cpu_same_run: $(per_hour "$s0" "$s1" "$idle") s/h"
say "linux_tolvane_idle_cpu_30_tools_same_run: $(per_hour "$l0" "$l1" "$idle") s/h"
