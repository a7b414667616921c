#!/usr/bin/env bash
# CPU per second of saver time of whole headless runs on the bundled samples: the run's
# CPU seconds (user + system) divided by its seconds of virtual saver time. Duration 600,
# so a run is one picture's burst, bodies and sprites, never a wind-down.
#   bench/headless_cpu.sh [--runs N] [--program PATH] [--out FILE]
#                         [--points "1920x1080:60 3840x2160:30"]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/saver_home.sh

runs=3
program=""
out=""
points="1920x1080:60 3840x2160:30"
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --program) program="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --points) points="$2"; shift 2 ;;
    *) echo "headless_cpu: unknown argument $1" >&2; exit 2 ;;
  esac
done

build_dir="${GLIMMERAX_BUILD_DIR:-build}"
program="${program:-$PWD/$build_dir/glimmerax}"
[ -x "$program" ] || { echo "headless_cpu: build $program first (scripts/setup)" >&2; exit 1; }
work=$(mktemp -d /tmp/gxheadless-XXXXXX)
trap 'rm -rf "$work"' EXIT

make_home "$work/home" "$program"

report() {
  echo "# CPU per second of saver time, headless, Duration 600, $(date -u +%Y-%m-%d)"
  echo "# size        seconds   runs: cores each                 median"
  for point in $points; do
    local size=${point%%:*} seconds=${point##*:} all=()
    for _ in $(seq "$runs"); do
      local cpu
      write_settings "$work/home" 600
      cpu=$( { TIMEFORMAT='%U %S'; time GLIMMERAX_HOME="$work/home" "$program" /s --headless \
                 --size "$size" --seconds "$seconds" >/dev/null 2>&1; } 2>&1)
      all+=("$(awk -v c="$cpu" -v s="$seconds" 'BEGIN { split(c, t, " "); printf "%.3f", (t[1] + t[2]) / s }')")
    done
    printf '%-12s %6s    %-32s %s\n' "$size" "$seconds" "${all[*]}" \
      "$(printf '%s\n' "${all[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')"
  done
}

if [ -n "$out" ]; then report | tee "$out"; else report; fi
