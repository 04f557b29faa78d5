#!/usr/bin/env bash
# Records a 1920x1080 demo window for SECONDS (default 30), first with pyx-video (then saved), then with
# ffmpeg's x11grab + pulse capture into H.264 + AAC, each with a fresh target, one after the other. Compares
# CPU, memory and the source frames each MP4 holds; for pyx-video also the time from the save signal until
# the MP4 is in place. Runs on a private X server and sound server when no DISPLAY is set. With PAIRS above 1
# it runs that many pairs one after the other and ends with the median of each ratio: the CPU time of one run
# varies by a fifth on a shared machine. CASE is what the window does:
#   motion         redrawn completely at 60 frames/s, a 440 Hz tone playing (the default)
#   static         never changes after its first frame, a 440 Hz tone playing
#   static-silent  never changes, no sound
#   mostly-static  a 200x200 area (and the frame number) changes 10 times a second, a 440 Hz tone playing
#   bench/record-vs-ffmpeg.sh BUILD_DIR [SECONDS] [PAIRS] [CASE]
# e.g. all four, three pairs of 60 s each:
#   for c in motion static static-silent mostly-static; do bench/record-vs-ffmpeg.sh build/default 60 3 $c; done
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: record-vs-ffmpeg.sh BUILD_DIR [SECONDS] [PAIRS] [CASE]}" && pwd)"
seconds="${2:-30}"
pairs="${3:-1}"
case="${4:-motion}"
case "$case" in
  motion) target_args=(--fps 60 --tone 440) description="redrawn at 60 frames/s with a 440 Hz tone" ;;
  static) target_args=(--still --tone 440) description="never changing, with a 440 Hz tone" ;;
  static-silent) target_args=(--still) description="never changing, without sound" ;;
  mostly-static)
    target_args=(--fps 10 --changing 200x200 --tone 440)
    description="200x200 changing 10 times a second, with a 440 Hz tone" ;;
  *) echo "record-vs-ffmpeg: unknown case '$case' (motion, static, static-silent, mostly-static)" >&2; exit 2 ;;
esac

if [ -z "${DISPLAY:-}" ]; then
  WITH_WM=1 exec "$root/scripts/test-env/with-sound" "$root/scripts/test-env/with-display" "$0" "$build" \
    "$seconds" "$pairs" "$case"
fi

# The middle one of the numbers on standard input (the lower middle of an even count).
median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)] + 0}'; }

# The private X server is the wrapper's child; a run of several pairs hands it on.
xserver=${PYX_BENCH_XSERVER:-$(cut -d' ' -f1- "/proc/$PPID/task/$PPID/children" 2>/dev/null | tr ' ' '\n' |
  while read -r pid; do [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] && echo "$pid"; done || true)}

if [ "$pairs" -gt 1 ]; then
  export PYX_BENCH_XSERVER="$xserver"
  summary=$(mktemp)
  one=$(mktemp)
  trap 'rm -f "$summary" "$one"' EXIT
  for pair in $(seq 1 "$pairs"); do
    echo "=== pair $pair of $pairs"
    "$0" "$build" "$seconds" 1 "$case" >"$one"
    cat "$one"
    awk '/^pyx-video \/ ffmpeg:/' "$one" >>"$summary"
  done
  echo
  echo "median of $pairs pairs:"
  # Each line: "pyx-video / ffmpeg: CPU r, CPU share r, peak RSS r, steady RSS r, frames kept r".
  for field in 2 3 4 5 6; do
    label=$(awk -F'[:,]' -v f="$field" 'NR == 1 {sub(/ [0-9.]+$/, "", $f); sub(/^ /, "", $f); print $f}' "$summary")
    value=$(awk -F'[:,]' -v f="$field" '{n = split($f, word, " "); print word[n]}' "$summary" | median)
    printf "  pyx-video / ffmpeg %-12s %.2f\n" "$label" "$value"
  done
  exit 0
fi

pyx="$build/src/app/pyx-video"
target="$build/tests/targets/pyx-demo-target"
counter="$build/bench/count-drawn-frames"
for program in "$pyx" "$target" "$counter"; do
  [ -x "$program" ] || { echo "record-vs-ffmpeg: $program is not built" >&2; exit 1; }
done

work=$(mktemp -d)
target_pid=
sampler_pid=
cleanup() {
  if [ -n "$sampler_pid" ]; then kill "$sampler_pid" 2>/dev/null || true; fi
  if [ -n "$target_pid" ]; then kill "$target_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ticks=$(getconf CLK_TCK)

# Starts a fresh target and waits for its first frame; sets target_pid and window.
start_target() {
  "$target" --size 1920x1080 "${target_args[@]}" >"$work/target.out" 2>&1 &
  target_pid=$!
  for _ in $(seq 1 200); do
    window=$(awk '$1 == "ready" {print $2; exit}' "$work/target.out")
    [ -n "$window" ] && return 0
    kill -0 "$target_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "record-vs-ffmpeg: the demo target did not get ready:" >&2
  cat "$work/target.out" >&2
  exit 1
}

stop_target() {
  kill "$target_pid" 2>/dev/null || true
  wait "$target_pid" 2>/dev/null || true
  target_pid=
}

# CPU ticks (user + system) of a process so far.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# The process that /usr/bin/time started (its only child), once it exists.
child_of() {
  local child=
  for _ in $(seq 1 200); do
    child=$(cut -d' ' -f1 "/proc/$1/task/$1/children" 2>/dev/null || true)
    [ -n "$child" ] && break
    sleep 0.01
  done
  [ -n "$child" ] || { echo "record-vs-ffmpeg: process $1 started nothing" >&2; exit 1; }
  echo "$child"
}

# Appends the resident set (kB) of process PID to FILE once a second while it lives.
sample_rss() {
  while awk '/^VmRSS:/ {print $2; found = 1} END {exit !found}' "/proc/$1/status" >>"$2" 2>/dev/null; do
    sleep 1
  done
}

start_sampler() {
  : >"$2"
  sample_rss "$1" "$2" &
  sampler_pid=$!
}

stop_sampler() {
  kill "$sampler_pid" 2>/dev/null || true
  wait "$sampler_pid" 2>/dev/null || true
  sampler_pid=
}

# Median of the second half of the samples in FILE.
steady_rss() {
  local n
  n=$(wc -l <"$1")
  tail -n "$((n - n / 2))" "$1" | median
}

# The larger of the peak that /usr/bin/time saw and the largest sample (they count slightly differently).
peak_rss() { sort -n "$2" | tail -1 | awk -v p="$1" '{print ($1 > p ? $1 : p)}'; }

# One field of /usr/bin/time -v output: cpu (user + sys seconds), wall (seconds), peak (kB).
time_field() {
  awk -F': ' -v want="$2" '
    /User time/ {user = $2} /System time/ {sys = $2} /Maximum resident/ {peak = $2}
    /Elapsed \(wall clock\)/ {n = split($2, p, ":"); wall = 0; for (i = 1; i <= n; i++) wall = wall * 60 + p[i]}
    END {if (want == "cpu") print user + sys; else if (want == "wall") print wall; else print peak}' "$1"
}

# "FIRST LAST DISTINCT UNREADABLE BLANK" frame numbers of one MP4, from count-drawn-frames.
count_frames() {
  "$counter" "$@" >"$work/count" || exit 1
  awk -F': ' '{v[$1] = $2} END {if (!("first" in v)) exit 1
    print v["first"], v["last"], v["distinct numbers"], v["unreadable frames"], v["blank frames"]}' "$work/count" ||
    { echo "record-vs-ffmpeg: no frame numbers read from $*" >&2; exit 1; }
}

video_duration() {
  ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 "$1"
}

xserver_ticks() { if [ -n "$xserver" ]; then cpu_ticks "$xserver"; else echo 0; fi; }

echo "== pyx-video --duration 10, recording ${seconds} s of a 1920x1080 window $description"
start_target
/usr/bin/time -v -o "$work/pyx.time" "$pyx" --pid="$target_pid" --duration 10 --file "$work/pyx" \
  2>"$work/pyx.log" &
time_pid=$!
recorder=$(child_of "$time_pid")
start_sampler "$recorder" "$work/pyx.rss"
target_before=$(cpu_ticks "$target_pid")
x_before=$(xserver_ticks)
sleep "$seconds"
target_after=$(cpu_ticks "$target_pid")
x_after=$(xserver_ticks)
cp "$work/pyx.rss" "$work/pyx.rss.recording"
saved_at=$(date +%s.%N)
kill -USR1 "$recorder"
while [ ! -e "$work/pyx.mp4" ] && kill -0 "$recorder" 2>/dev/null; do sleep 0.005; done
mp4_at=$(date +%s.%N)
status=0
wait "$time_pid" || status=$?
exited_at=$(date +%s.%N)
stop_sampler
stop_target
if [ "$status" -ne 0 ] || [ ! -s "$work/pyx.mp4" ]; then
  echo "record-vs-ffmpeg: pyx-video exited with status $status and no MP4; its log:" >&2
  cat "$work/pyx.log" >&2
  exit 1
fi
pyx_cpu=$(time_field "$work/pyx.time" cpu)
pyx_wall=$(time_field "$work/pyx.time" wall)
pyx_peak=$(peak_rss "$(time_field "$work/pyx.time" peak)" "$work/pyx.rss")
pyx_steady=$(steady_rss "$work/pyx.rss.recording")
pyx_save_mp4=$(awk -v a="$saved_at" -v b="$mp4_at" 'BEGIN {printf "%.2f", b - a}')
pyx_save_exit=$(awk -v a="$saved_at" -v b="$exited_at" 'BEGIN {printf "%.2f", b - a}')
pyx_target_cpu=$(awk -v t=$((target_after - target_before)) -v h="$ticks" -v s="$seconds" \
  'BEGIN {printf "%.2f", t / h / s}')
pyx_x_cpu=$(awk -v t=$((x_after - x_before)) -v h="$ticks" -v s="$seconds" 'BEGIN {printf "%.2f", t / h / s}')
pyx_duration=$(video_duration "$work/pyx.mp4")
counts=$(count_frames "$work/pyx.mp4")
read -r pyx_first pyx_last pyx_distinct pyx_unreadable pyx_blank <<<"$counts"

echo "== ffmpeg x11grab + pulse, libx264 ultrafast, recording ${seconds} s of a fresh target"
start_target
origin=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
  END {print x "," y}')
monitor="$(pactl get-default-sink).monitor"
mkfifo "$work/keys"
/usr/bin/time -v -o "$work/ffmpeg.time" ffmpeg -hide_banner -loglevel error -y -f pulse -i "$monitor" \
  -f x11grab -framerate 60 -video_size 1920x1080 -i "$DISPLAY" -map 1:v -map 0:a -pix_fmt yuv420p \
  -c:v libx264 -preset ultrafast -tune zerolatency -g 120 -c:a aac "$work/ffmpeg.mp4" \
  <"$work/keys" >"$work/ffmpeg.log" 2>&1 &
time_pid=$!
exec 3>"$work/keys"
grabber=$(child_of "$time_pid")
start_sampler "$grabber" "$work/ffmpeg.rss"
target_before=$(cpu_ticks "$target_pid")
x_before=$(xserver_ticks)
sleep "$seconds"
target_after=$(cpu_ticks "$target_pid")
x_after=$(xserver_ticks)
cp "$work/ffmpeg.rss" "$work/ffmpeg.rss.recording"
# "q" makes ffmpeg finish the file and exit normally.
echo q >&3
exec 3>&-
status=0
wait "$time_pid" || status=$?
stop_sampler
stop_target
if [ "$status" -ne 0 ] || [ ! -s "$work/ffmpeg.mp4" ]; then
  echo "record-vs-ffmpeg: ffmpeg exited with status $status; its log:" >&2
  cat "$work/ffmpeg.log" >&2
  exit 1
fi
ff_cpu=$(time_field "$work/ffmpeg.time" cpu)
ff_wall=$(time_field "$work/ffmpeg.time" wall)
ff_peak=$(peak_rss "$(time_field "$work/ffmpeg.time" peak)" "$work/ffmpeg.rss")
ff_steady=$(steady_rss "$work/ffmpeg.rss.recording")
ff_target_cpu=$(awk -v t=$((target_after - target_before)) -v h="$ticks" -v s="$seconds" \
  'BEGIN {printf "%.2f", t / h / s}')
ff_x_cpu=$(awk -v t=$((x_after - x_before)) -v h="$ticks" -v s="$seconds" 'BEGIN {printf "%.2f", t / h / s}')
ff_duration=$(video_duration "$work/ffmpeg.mp4")
counts=$(count_frames --origin "$origin" "$work/ffmpeg.mp4")
read -r ff_first ff_last ff_distinct ff_unreadable ff_blank <<<"$counts"

echo
awk -v seconds="$seconds" -v description="$description" \
  -v pc="$pyx_cpu" -v pw="$pyx_wall" -v pp="$pyx_peak" -v ps="$pyx_steady" -v pd="$pyx_duration" \
  -v pf="$pyx_first" -v pl="$pyx_last" -v pn="$pyx_distinct" -v pu="$pyx_unreadable" -v pb="$pyx_blank" \
  -v pt="$pyx_target_cpu" -v px="$pyx_x_cpu" -v sm="$pyx_save_mp4" -v se="$pyx_save_exit" \
  -v fc="$ff_cpu" -v fw="$ff_wall" -v fp="$ff_peak" -v fs="$ff_steady" -v fd="$ff_duration" \
  -v ff="$ff_first" -v fl="$ff_last" -v fn="$ff_distinct" -v fu="$ff_unreadable" -v fb="$ff_blank" \
  -v ft="$ff_target_cpu" -v fx="$ff_x_cpu" -v xs="$xserver" '
  function row(name, a, b) { printf "%-40s %14s %14s\n", name, a, b }
  BEGIN {
    pspan = pl - pf + 1; fspan = fl - ff + 1
    printf "%d s recording, 1920x1080 window %s\n\n", seconds, description
    row("", "pyx-video", "ffmpeg")
    row("process wall time (s)", sprintf("%.2f", pw), sprintf("%.2f", fw))
    row("CPU user+sys (s)", sprintf("%.2f", pc), sprintf("%.2f", fc))
    row("CPU, share of one core", sprintf("%.2f", pc / pw), sprintf("%.2f", fc / fw))
    row("peak RSS (MB)", sprintf("%.1f", pp / 1024), sprintf("%.1f", fp / 1024))
    row("steady RSS, median of 2nd half (MB)", sprintf("%.1f", ps / 1024), sprintf("%.1f", fs / 1024))
    row("MP4 video duration (s)", sprintf("%.2f", pd), sprintf("%.2f", fd))
    row("target frames drawn in that span", pspan, fspan)
    row("distinct target frames in the MP4", pn, fn)
    row("  share of the frames drawn", sprintf("%.1f%%", 100 * pn / pspan), sprintf("%.1f%%", 100 * fn / fspan))
    row("  target draw rate in the span (1/s)", sprintf("%.1f", pspan / pd), sprintf("%.1f", fspan / fd))
    row("frames unreadable / blank", pu " / " pb, fu " / " fb)
    row("save signal to MP4 in place (s)", sm, "-")
    row("save signal to exit (s)", se, "-")
    row("target CPU while recording (cores)", pt, ft)
    if (xs != "") row("X server CPU while recording (cores)", px, fx)
    printf "\npyx-video / ffmpeg: CPU %.2f, CPU share %.2f, peak RSS %.2f, steady RSS %.2f, frames kept %.2f\n",
      pc / fc, (pc / pw) / (fc / fw), pp / fp, ps / fs, (pn / pspan) / (fn / fspan)
  }'
