#!/usr/bin/env bash
# Records a 1920x1080, 60 frames/s demo window with a tone, iconified for a second every 30 s, with
# pyx-video --duration 10 for MINUTES (default 10), sampling the recorder's memory and the ring files' sizes
# every 5 s, then saves and checks the MP4. Fails when memory grows by 5 % or more from minute 2 to the end,
# when a ring file ever holds more than two durations plus one GOP (2 s) of data at the observed bit rate (a
# segment switches at the first key frame after one duration, so each holds about 12 s), when the recorder
# did not lose and find the iconified window, or when the MP4 is not H.264 + AAC of 10 to 22 s that decodes
# without error. Runs on a private X server (with a window manager) and sound server when no DISPLAY is set.
#   bench/soak.sh BUILD_DIR [MINUTES]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: soak.sh BUILD_DIR [MINUTES]}" && pwd)"
minutes="${2:-10}"
if ! [[ "$minutes" =~ ^[1-9][0-9]*$ ]]; then
  echo "soak: MINUTES must be a whole number of minutes, not '$minutes'" >&2
  exit 2
fi

if [ -z "${DISPLAY:-}" ]; then
  WITH_WM=1 exec "$root/scripts/test-env/with-sound" "$root/scripts/test-env/with-display" "$0" "$build" "$minutes"
fi

pyx="$build/src/app/pyx-video"
target="$build/tests/targets/pyx-demo-target"
counter="$build/bench/count-drawn-frames"
for program in "$pyx" "$target" "$counter"; do
  [ -x "$program" ] || { echo "soak: $program is not built" >&2; exit 1; }
done

duration=10
gop=2
interval=5
work=$(mktemp -d)
target_pid=
recorder=
cleanup() {
  if [ -n "$recorder" ]; then kill "$recorder" 2>/dev/null || true; fi
  if [ -n "$target_pid" ]; then kill "$target_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT

# Keeps the recording, its log and the samples for a look afterwards.
fail() {
  echo "soak: FAILED: $*; the files are kept in $work" >&2
  work=
  exit 1
}

"$target" --size 1920x1080 --fps 60 --tone 440 --iconify-every 30 >"$work/target.out" 2>&1 &
target_pid=$!
for _ in $(seq 1 200); do
  grep -q '^ready ' "$work/target.out" && break
  kill -0 "$target_pid" 2>/dev/null || break
  sleep 0.05
done
grep -q '^ready ' "$work/target.out" || { cat "$work/target.out" >&2; fail "the demo target did not get ready"; }

name="$work/soak"
rings=("${name}0" "${name}0.idx" "${name}1" "${name}1.idx")
"$pyx" --pid="$target_pid" --duration "$duration" --file "$name" 2>"$work/pyx.log" &
recorder=$!

size_of() { if [ -e "$1" ]; then stat -c %s "$1"; else echo 0; fi; }

# One line per sample: seconds since the start, VmRSS (kB), then the size of each ring file (bytes).
samples="$work/samples"
: >"$samples"
start=$(date +%s)
end=$((start + minutes * 60))
next=$((start + interval))
echo "soak: recording for $minutes min; a line a minute"
while [ "$(date +%s)" -lt "$end" ]; do
  sleep "$(awk -v n="$next" -v now="$(date +%s.%N)" 'BEGIN {d = n - now; print (d > 0 ? d : 0)}')"
  kill -0 "$recorder" 2>/dev/null || { cat "$work/pyx.log" >&2; fail "pyx-video exited while recording"; }
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$recorder/status")
  line="$((next - start)) $rss"
  for file in "${rings[@]}"; do line+=" $(size_of "$file")"; done
  echo "$line" >>"$samples"
  if [ $(((next - start) % 60)) -eq 0 ]; then
    awk -v l="$line" 'BEGIN {split(l, f, " "); printf "soak: minute %d: RSS %.1f MB, ring %.1f MB\n",
      f[1] / 60, f[2] / 1024, (f[3] + f[4] + f[5] + f[6]) / 1e6}'
  fi
  next=$((next + interval))
done

kill -USR1 "$recorder"
status=0
wait "$recorder" || status=$?
recorder=
kill "$target_pid" 2>/dev/null || true
wait "$target_pid" 2>/dev/null || true
target_pid=
[ "$status" -eq 0 ] || { cat "$work/pyx.log" >&2; fail "pyx-video exited with status $status after save"; }
mp4="$name.mp4"
[ -s "$mp4" ] || fail "no MP4 after save"

failures=0
check() {
  if [ "$1" = ok ]; then echo "  ok    $2"; else echo "  FAIL  $2"; failures=$((failures + 1)); fi
}
verdict() { if awk "BEGIN {exit !($1)}"; then echo ok; else echo fail; fi; }

# Bytes per second written to the ring over the run: growth of every file between samples (a file that was
# emptied and refilled grew by its new size), over the time sampled.
rate=$(awk '
  NR > 1 {for (i = 3; i <= 6; i++) grew += ($i >= last[i] ? $i - last[i] : $i)}
  NR == 1 {grew = $3 + $4 + $5 + $6}
  {for (i = 3; i <= 6; i++) last[i] = $i; t = $1}
  END {print (t > 0 ? grew / t : 0)}' "$samples")
bound=$(awk -v r="$rate" -v d="$duration" -v g="$gop" 'BEGIN {printf "%d", (2 * d + g) * r}')

read -r rss1 rss2 rss_end rss_max file_max ring_max over < <(awk -v b="$bound" '
  function near(t, want) { return t >= want && !(want in at) }
  {if (near($1, 60)) {at[60] = $2} if (near($1, 120)) {at[120] = $2}
   last = $2; if ($2 > max) max = $2
   ring = 0
   for (i = 3; i <= 6; i++) {ring += $i; if ($i > fmax) fmax = $i; if ($i > b) over++}
   if (ring > rmax) rmax = ring}
  END {print (60 in at ? at[60] : last) + 0, (120 in at ? at[120] : last) + 0, last + 0, max + 0, fmax + 0,
         rmax + 0, over + 0}' "$samples")
growth=$(awk -v a="$rss2" -v b="$rss_end" 'BEGIN {printf "%.2f", 100 * (b - a) / a}')
# Memory swings each time the window comes back and the capture is built anew; the spread after minute 2 and
# the medians of minute 2 and of the last minute tell steady growth from that churn.
read -r rss_low rss_high median2 median_last < <(awk -v end="$((minutes * 60))" '
  function median(a, n, i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) {t = a[j]; a[j] = a[j - 1]; a[j - 1] = t}
    return a[int((n + 1) / 2)] + 0
  }
  $1 >= 120 {if (low == "" || $2 < low) low = $2; if ($2 > high) high = $2}
  $1 > 60 && $1 <= 120 {m2[++n2] = $2}
  $1 > end - 60 {ml[++nl] = $2}
  END {print low + 0, high + 0, median(m2, n2), median(ml, nl)}' "$samples")

codecs=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$mp4" | sort | tr '\n' ' ')
mp4_duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$mp4")
mp4_rate=$(awk -v s="$(stat -c %s "$mp4")" -v d="$mp4_duration" 'BEGIN {printf "%d", s / d}')
decode() { ffmpeg -nostdin -v error -i "$mp4" "$@" -f null - 2>&1; }
# ffmpeg's null output puts video frames on a grid of the frame rate it guesses from the timestamps and
# complains when two land in one slot (frames 16.8 ms apart on a 59 frames/s grid do); decoded again at the
# stream's own time base, only real faults in the file remain.
decode >"$work/decode.log"
decode_errors=
if [ -s "$work/decode.log" ]; then
  decode_errors=$(decode -enc_time_base -1 | head -20)
fi
frames=$("$counter" "$mp4" | awk -F': ' '{v[$1] = $2} END {
  printf "%d decoded, %d distinct, %d blank (squares all black), %d unreadable, %d missing from %d to %d",
    v["decoded frames"], v["distinct numbers"], v["blank frames"], v["unreadable frames"], v["missing"],
    v["first"], v["last"]}')
lost=$(grep -c 'lost window' "$work/pyx.log" || true)
found=$(grep -c 'found window' "$work/pyx.log" || true)
iconified=$(grep -c '^iconified' "$work/target.out" || true)

mb() { awk -v k="$1" 'BEGIN {printf "%.1f MB", k / 1024}'; }
mbytes() { awk -v b="$1" 'BEGIN {printf "%.2f MB", b / 1e6}'; }
kbits() { awk -v r="$1" 'BEGIN {printf "%.0f kbit/s", 8 * r / 1000}'; }
# Seconds of data that BYTES hold at the ring's bit rate.
seconds_of() { awk -v b="$1" -v r="$rate" 'BEGIN {printf "%.1f s", b / r}'; }
echo
echo "soak: $minutes min, $(wc -l <"$samples") samples every $interval s"
echo "  RSS at minute 1:      $(mb "$rss1")"
echo "  RSS at minute 2:      $(mb "$rss2")"
echo "  RSS at the end:       $(mb "$rss_end")"
echo "  RSS max:              $(mb "$rss_max")"
echo "  growth minute 2..end: ${growth} %"
echo "  RSS after minute 2:   $(mb "$rss_low") to $(mb "$rss_high")"
echo "  RSS median of minute 2 / of the last minute: $(mb "$median2") / $(mb "$median_last")"
echo "  ring bit rate:        $(kbits "$rate") (MP4: $(kbits "$mp4_rate"))"
echo "  bound (2 x ${duration} s + ${gop} s of data): $(mbytes "$bound")"
echo "  largest ring file:    $(mbytes "$file_max") ($(seconds_of "$file_max") of data)"
echo "  largest whole ring:   $(mbytes "$ring_max") ($(seconds_of "$ring_max") of data)"
echo "  window iconified $iconified times; recorder lost the window $lost times, found it $found times"
echo "  MP4: ${codecs}${mp4_duration} s, $(mbytes "$(stat -c %s "$mp4")")"
echo "  MP4 target frames: $frames"
check "$(verdict "$growth < 5")" "RSS growth from minute 2 to the end below 5 %"
check "$([ "$over" -eq 0 ] && echo ok || echo fail)" \
  "every sampled ring file within the bound ($over over)"
check "$([ "$codecs" = "aac h264 " ] && echo ok || echo fail)" "MP4 holds H.264 and AAC"
check "$(verdict "$mp4_duration >= $duration && $mp4_duration <= 2 * $duration + $gop")" \
  "MP4 duration between $duration and $((2 * duration + gop)) s"
check "$([ "$iconified" -gt 0 ] && [ "$lost" -gt 0 ] && [ "$found" -ge "$lost" ] && echo ok || echo fail)" \
  "the window was iconified, and the recorder lost it and found it again"
check "$([ -z "$decode_errors" ] && echo ok || echo fail)" "MP4 decodes without error"
if [ -n "$decode_errors" ]; then
  while IFS= read -r line; do echo "        $line"; done <<<"$decode_errors"
elif [ -s "$work/decode.log" ]; then
  grid=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$mp4")
  spacing=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 "$mp4" | sort -n |
    awk 'NR > 1 {print 1000 * ($1 - last)} {last = $1}' | sort -n |
    awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
  echo "  note  'ffmpeg -f null' printed $(wc -l <"$work/decode.log") timestamp complaint(s) on its guessed" \
    "$grid frames/s grid (median frame interval $spacing ms); at the stream's own time base it decodes cleanly"
fi
[ "$failures" -eq 0 ] || fail "$failures check(s)"
echo "soak: passed"
