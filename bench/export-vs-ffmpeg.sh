#!/usr/bin/env bash
# Times `pyx-video --export` on a 60-second 1080p60 ring against `ffmpeg -c copy` of the same packets given as
# raw stream files, run alternately on the same machine. Usage: export-vs-ffmpeg.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?usage: export-vs-ffmpeg.sh BUILD_DIR [RUNS]}
runs=${2:-5}
work=${PYX_BENCH_RING_DIR:-/tmp/pyx-export-bench}
pyx=$build/src/app/pyx-video
"$build/bench/make-export-bench-ring" "$work" 60 >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Wall-clock seconds of one command, from /usr/bin/time.
elapsed() {
  /usr/bin/time -f %e -o "$scratch/time" "$@" >/dev/null 2>"$scratch/stderr" || { cat "$scratch/stderr" >&2; exit 1; }
  cat "$scratch/time"
}

pyx_times=()
ffmpeg_times=()
for _ in $(seq "$runs"); do
  # The export removes the ring files it exported, so each run gets a fresh copy.
  cp "$work"/ring0 "$work"/ring0.idx "$work"/ring1 "$work"/ring1.idx "$scratch"/
  sync
  pyx_times+=("$(elapsed "$pyx" --export "$scratch/ring")")
  rm -f "$scratch/ring.mp4"
  ffmpeg_times+=("$(elapsed ffmpeg -y -v error -r 60 -i "$work/ring.h264" -i "$work/ring.aac" -c copy \
    "$scratch/ffmpeg.mp4")")
  rm -f "$scratch/ffmpeg.mp4"
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
pyx=$(median "${pyx_times[@]}")
ff=$(median "${ffmpeg_times[@]}")
size=$(du -cb "$work"/ring0 "$work"/ring1 | tail -1 | cut -f1)
echo "ring: $((size / 1000000)) MB, $runs runs each, median wall time"
echo "pyx-video --export:  ${pyx} s   (runs: ${pyx_times[*]})"
echo "ffmpeg -c copy:      ${ff} s   (runs: ${ffmpeg_times[*]})"
awk -v a="$pyx" -v b="$ff" 'BEGIN { printf "export / remux ratio: %.2f\n", a / b }'
