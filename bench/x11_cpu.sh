#!/usr/bin/env bash
# CPU per second of saver time on a real X server (Xvfb), of the program and of the
# server, for glimmerax -root beside xscreensaver's image hacks run the same way, for
# glimmerax in its own full-screen window both ways (window surface, GL texture), and
# for the settings dialog's preview pane (the dialog and the saver it runs).
#   bench/x11_cpu.sh [--seconds S] [--sizes "1920x1080 3840x2160"] [--only NAME] [--out FILE]
#                    [--program PATH]   (another glimmerax binary, to compare two builds)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/saver_home.sh

seconds=30
program=""
sizes="1920x1080 3840x2160"
only=""
out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --sizes) sizes="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --program) program="$2"; shift 2 ;;
    *) echo "x11_cpu: unknown argument $1" >&2; exit 2 ;;
  esac
done

build_dir="${GLIMMERAX_BUILD_DIR:-build}"
program="${program:-$PWD/$build_dir/glimmerax}"
[ -x "$program" ] || { echo "x11_cpu: build $program first (scripts/setup)" >&2; exit 1; }
hacks=/usr/libexec/xscreensaver
tick=$(getconf CLK_TCK)
work=$(mktemp -d /tmp/gxbench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# utime + stime of a process and of the children it waited for, in ticks.
cpu_ticks() {
  local f
  f=$(cat "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
  f=${f##*) }
  set -- $f
  echo $(( ${12} + ${13} + ${14} + ${15} ))
}

free_display() {
  local n
  for n in $(seq 150 400); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { echo "$n"; return; }
  done
  return 1
}

# A process with its living children, and the children it has reaped, in ticks.
tree_ticks() {
  local total c
  total=$(cpu_ticks "$1")
  for c in $(pgrep -P "$1"); do total=$((total + $(cpu_ticks "$c"))); done
  echo "$total"
}

# measure NAME SIZE COMMAND...: prints "NAME SIZE program server total" (cores); the
# program's share includes the processes it starts. With warm=S in the environment the
# count begins S seconds after the program started instead of at once.
measure() {
  local name="$1" size="$2"; shift 2
  local n xpid pid x0 x1 p0=0 p1
  n=$(free_display)
  Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp -noreset >/dev/null 2>&1 &
  xpid=$!
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  x0=$(cpu_ticks "$xpid")
  write_settings "$work/home" 130
  GLIMMERAX_HOME="$work/home" DISPLAY=":$n" "$@" >"$work/$name.log" 2>&1 &
  pid=$!
  if [ "${warm:-0}" != 0 ]; then
    sleep "$warm"
    p0=$(tree_ticks "$pid")
    x0=$(cpu_ticks "$xpid")
  fi
  sleep "$seconds"
  p1=$(tree_ticks "$pid")
  x1=$(cpu_ticks "$xpid")
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  kill -TERM "$xpid" 2>/dev/null || true
  wait "$xpid" 2>/dev/null || true
  awk -v n="$name" -v s="$size" -v p="$((p1 - p0))" -v x="$((x1 - x0))" -v t="$tick" -v d="$seconds" \
    'BEGIN { printf "%-14s %-10s %8.3f %8.3f %8.3f\n", n, s, p / t / d, x / t / d, (p + x) / t / d }'
}

make_home "$work/home" "$program"

report() {
  echo "# CPU per second of saver time on Xvfb (cores), ${seconds} s each, $(date -u +%Y-%m-%d)"
  echo "# name           size         program   server    total"
  for size in $sizes; do
    for name in glimmerax glimmerax-shm glimmerax-gl preview rotzoomer zoom; do
      [ -n "$only" ] && [ "$only" != "$name" ] && continue
      case "$name" in
        glimmerax) measure "$name" "$size" "$program" -root ;;
        # Its own full-screen window, through the window surface and through GL's
        # texture path (on Xvfb Mesa's software GL, as on any display without a card).
        glimmerax-shm) GLIMMERAX_PRESENT=surface measure "$name" "$size" "$program" /s ;;
        glimmerax-gl) GLIMMERAX_PRESENT=texture measure "$name" "$size" "$program" /s ;;
        # The settings dialog and the saver it runs in its pane (about 320 pixels wide
        # whatever the screen's size), once GTK and the saver have started.
        preview) warm=5 GDK_BACKEND=x11 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory \
          measure "$name" "$size" "$program" /c ;;
        *)
          if [ -x "$hacks/$name" ]; then measure "$name" "$size" "$hacks/$name" -root
          else printf '%-14s %-10s (not installed: xscreensaver-data-extra)\n' "$name" "$size"; fi ;;
      esac
    done
  done
}

if [ -n "$out" ]; then report | tee "$out"; else report; fi
