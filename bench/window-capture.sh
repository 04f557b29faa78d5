#!/usr/bin/env bash
# Window capture at 1920x1080 on a private Xvfb: the per-frame cost benchmark, then the CPU use of a 60 frames/s
# capture of an animating full-HD window for SECONDS (default 20), beside ffmpeg's x11grab of the same area.
# The X server's CPU time is counted for both, as it does the copying of the grabs.
#   bench/window-capture.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"
seconds="${2:-20}"

if [ -z "${PYX_WINDOW_CAPTURE_INNER:-}" ]; then
  PYX_WINDOW_CAPTURE_INNER=1 exec "$root/scripts/test-env/with-display" "$0" "$build" "$seconds"
fi

coproc TARGET { "$build/tests/targets/pyx-test-window"; }
echo "create bench 1920 1080 0 0 000000" >&"${TARGET[1]}"
read -r answer <&"${TARGET[0]}"
window="${answer#* }"
echo "animate bench" >&"${TARGET[1]}"
read -r _ <&"${TARGET[0]}"

xvfb_pid=$(ps -eo pid=,args= | awk -v d="$DISPLAY" '$2 ~ /Xvfb$/ && $3 == d {print $1}')
server_cpu() { awk '{print $14 + $15}' "/proc/$xvfb_pid/stat"; }
ticks=$(getconf CLK_TCK)

echo "== per-frame cost, 1920x1080 window"
PYX_BENCH_WINDOW="$window" "$build/bench/bench_window_capture" --benchmark_min_time=2

echo "== pyx-video window capture, 60 frames/s, ${seconds} s"
before=$(server_cpu)
"$build/bench/capture-cpu" "$window" "$seconds"
after=$(server_cpu)
echo "X server cpu $(awk -v t=$((after - before)) -v h="$ticks" -v s="$seconds" 'BEGIN {printf "%.2f s (%.1f%% of one core)", t / h, 100 * t / h / s}')"

echo "== ffmpeg -f x11grab, 60 frames/s, ${seconds} s"
before=$(server_cpu)
start=$(date +%s.%N)
timing=$(mktemp)
/usr/bin/time -o "$timing" -f "ffmpeg cpu %U s user + %S s sys" ffmpeg -nostdin -hide_banner -loglevel fatal \
  -progress pipe:1 -f x11grab -draw_mouse 0 -framerate 60 -video_size 1920x1080 -i "$DISPLAY+0,0" -t "$seconds" \
  -f null - | grep '^frame=' | tail -1
cat "$timing"
rm -f "$timing"
end=$(date +%s.%N)
after=$(server_cpu)
echo "wall $(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.1f s", b - a}')"
echo "X server cpu $(awk -v t=$((after - before)) -v h="$ticks" -v s="$seconds" 'BEGIN {printf "%.2f s (%.1f%% of one core)", t / h, 100 * t / h / s}')"
kill "$TARGET_PID" 2>/dev/null || true
