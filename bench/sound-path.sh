#!/usr/bin/env bash
# The sound path on its own: a 440 Hz tone plays for SECONDS (default 30) while sound-path-cpu reads the default
# output's loopback, resamples and encodes it to AAC as the recorder does; then the tone plays as long again
# without it. Prints the path's own CPU and the sound server's CPU in both spans: the difference is what the
# path costs the server (its wake-ups and system calls for one more client). Runs on a private X server and
# sound server when no DISPLAY is set.
#   bench/sound-path.sh BUILD_DIR [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: sound-path.sh BUILD_DIR [SECONDS]}" && pwd)"
seconds="${2:-30}"

if [ -z "${DISPLAY:-}" ]; then
  exec "$root/scripts/test-env/with-sound" "$root/scripts/test-env/with-display" "$0" "$build" "$seconds"
fi

path_cpu="$build/bench/sound-path-cpu"
target="$build/tests/targets/pyx-demo-target"
for program in "$path_cpu" "$target"; do
  [ -x "$program" ] || { echo "sound-path: $program is not built" >&2; exit 1; }
done

work=$(mktemp -d)
target_pid=
cleanup() {
  if [ -n "$target_pid" ]; then kill "$target_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ticks=$(getconf CLK_TCK)
server=$(pgrep -f "pulseaudio .*${PULSE_SERVER#unix:}" | head -1 || true)
server=${server:-$(pgrep -x pulseaudio | head -1 || true)}
[ -n "$server" ] || { echo "sound-path: no sound server process found" >&2; exit 1; }
server_ticks() { awk '{print $14 + $15}' "/proc/$server/stat"; }
share() { awk -v t="$1" -v h="$ticks" -v s="$seconds" 'BEGIN {printf "%.3f", t / h / s}'; }

"$target" --size 320x240 --still --tone 440 >"$work/target.out" 2>&1 &
target_pid=$!
for _ in $(seq 1 200); do
  grep -q '^ready' "$work/target.out" && break
  sleep 0.05
done
sleep 1

before=$(server_ticks)
"$path_cpu" "$seconds" >"$work/path.out"
with_path=$(share $(($(server_ticks) - before)))
before=$(server_ticks)
sleep "$seconds"
without_path=$(share $(($(server_ticks) - before)))

own=$(awk -F': ' '/share of one core/ {print $2}' "$work/path.out")
echo "$seconds s of a 440 Hz tone through the sound path (loopback capture, resampling, AAC)"
cat "$work/path.out"
echo "sound server CPU with the path (cores): $with_path"
echo "sound server CPU without it (cores): $without_path"
awk -v o="$own" -v w="$with_path" -v n="$without_path" \
  'BEGIN {printf "the path, server share included (cores): %.3f\n", o + (w > n ? w - n : 0)}'
