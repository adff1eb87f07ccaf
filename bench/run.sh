#!/usr/bin/env bash
# Runs every benchmark against its baseline in the same run and prints one
# table. Builds the release preset first. Takes a few minutes on 2 cores.
#   bench/run.sh            all benchmarks, one hour of audio where it matters
#   SECONDS_OF_AUDIO=600 bench/run.sh   a shorter run
#   LIVE_SECONDS=3600 bench/run.sh      an hour-long live step (default 60 s)
set -euo pipefail
cd "$(dirname "$0")/.."
hour="${SECONDS_OF_AUDIO:-3600}"
live_seconds="${LIVE_SECONDS:-60}"
scripts/build.sh release >/dev/null
bin=build/release
work=$(mktemp -d "${TMPDIR:-/tmp}/recorder-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
results="$work/results.txt"
: >"$results"
row() { printf '| %s | %s | %s | %s |\n' "$1" "$2" "$3" "$4" | tee -a "$results" >/dev/null; }
# Each step starts with the disk quiet: the writeback of the step before
# (gigabytes, for the append benchmark) would otherwise stall this one.
settle() { sync; sleep 1; }

settle
echo "== 1. per-buffer append (Google Benchmark)" >&2
# Ten short repetitions of each, in random order, so that the machine's
# slow and fast spells fall on ours and the baselines alike; medians count.
"$bin/bench/append/append_bench" --benchmark_min_time=0.2 --benchmark_repetitions=10 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_filter='^(Ours|Limit|Libsndfile)/|Kernel|Naive' 2>/dev/null |
  tee "$work/append.txt" >&2
grep -E '^\| ' "$work/append.txt" | tee -a "$results" >/dev/null || true

settle
echo "== 2. latency of processSampleBuffer over ${hour} s of 1,024-frame buffers" >&2
"$bin/bench/latency/call_latency" "$hour" | tee "$work/latency.txt" >&2
read -r median p99 p999 max < <(awk '/median/ {print $2, $5, $8, $11}' "$work/latency.txt")
row "call latency (median / p99 / p99.9 / max)" "${median} / ${p99} / ${p999} / ${max} us" "budget 21,333 us" "max/budget $(awk -v m="$max" 'BEGIN{printf "%.4f", m/21333}')"

settle
echo "== 3. end to end: ${hour} s broadcast through the host vs sox on the same file" >&2
input="$work/input.wav"
sox -n -r 44100 -c 2 -b 16 -e signed-integer "$input" synth "$hour" sine 440 vol 0.5
settle
host_run() {
  "$bin/extension/broadcast-extension" --quiet --app-source "file:$input" --app-format s16be \
    --app-rate 44100 --app-channels 2 --mic-source sine:300 --video-rate 60 \
    --container-root "$work/containers" --temp-dir "$work" >/dev/null
}
sox_run() { sox "$input" -e signed-integer -b 16 "$work/sox-out.wav"; }
timed() { local t0 t1; t0=$(date +%s.%N); "$@"; t1=$(date +%s.%N); awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f\n", b-a}'; }
host_times=(); sox_times=()
for _ in 1 2 3 4 5; do host_times+=("$(timed host_run)"); sox_times+=("$(timed sox_run)"); done
med() { printf '%s\n' "$@" | sort -n | sed -n 3p; }
h=$(med "${host_times[@]}"); s=$(med "${sox_times[@]}")
row "end to end, ${hour} s 16-bit stereo 44.1 kHz + mic + 60 video/s" "host ${h} s" "sox ${s} s" "ratio $(awk -v a="$h" -v b="$s" 'BEGIN{printf "%.2f", a/b}')"
rm -f "$work/sox-out.wav"

settle
echo "== 4. hand-over of a ${hour} s recording vs cp" >&2
"$bin/bench/handover/handover_bench" "$hour" 5 | tee "$work/handover.txt" >&2
read -r ours cpms ratio < <(awk '{print $(NF-7), $(NF-3), $NF}' "$work/handover.txt")
method=$(sed -n 's/.* by \([a-z]*\),.*/\1/p' "$work/handover.txt")
row "hand-over by ${method} (endBroadcast vs cp, same directory)" "ours ${ours} ms" "cp ${cpms} ms" "ratio ${ratio}"

settle
echo "== 5. peak resident memory of the host" >&2
rss() {
  /usr/bin/time -f '%M' "$bin/extension/broadcast-extension" --quiet --duration "$1" --video-rate 60 \
    --container-root "$work/containers" --temp-dir "$work" 2>&1 >/dev/null | tail -n 1
}
# Three runs each, alternating, medians: the peak moves by a few hundred KiB
# from run to run with how much of the shared libraries gets mapped in.
rss60=(); rssLong=()
for _ in 1 2 3; do rss60+=("$(rss 60)"); rssLong+=("$(rss "$hour")"); done
m1=$(printf '%s\n' "${rss60[@]}" | sort -n | sed -n 2p); m2=$(printf '%s\n' "${rssLong[@]}" | sort -n | sed -n 2p)
row "peak RSS, 60 s vs ${hour} s broadcast" "${m1} KiB" "${m2} KiB" "ratio $(awk -v a="$m2" -v b="$m1" 'BEGIN{printf "%.3f", a/b}')"

settle
echo "== 6. bytes written for a one-minute recording (write_bytes of the host, read before it is reaped)" >&2
minute="$work/minute.wav"
sox -n -r 44100 -c 2 -b 16 -e signed-integer "$minute" synth 60 sine 440 vol 0.5
mkdir -p "$work/written-temp"
"$bin/bench/written/written_bytes" "$work/written.txt" "$bin/extension/broadcast-extension" --quiet \
  --app-source "file:$minute" --container-root "$work/written-containers" --temp-dir "$work/written-temp" >/dev/null
written=$(cat "$work/written.txt")
recorded=$(stat -c %s "$work/written-containers/group.tolvix/NewRecording.wav")
row "bytes written for a one-minute recording" "${written} B" "recording ${recorded} B" \
  "$(awk -v a="$written" -v b="$recorded" 'BEGIN{printf "%.2fx (1x links, 2x copies)", a/b}')"

settle
echo "== 7. live: ${live_seconds} s of a tone through a private sound server, the host beside parec" >&2
live_row() {
  local kind=$1 name=$2 line hc hm pc pm
  shift 2
  if ! line=$("$@" bench/live.sh "$kind" "$live_seconds" "$bin/extension/broadcast-extension"); then
    row "live ${live_seconds} s beside parec, ${name}" "skipped" "no private ${name} server could start" "-"
    return
  fi
  read -r hc hm pc pm <<<"$line"
  row "live ${live_seconds} s beside parec, ${name}: CPU (user+sys), peak RSS" "host ${hc} s, ${hm} KiB" \
    "parec ${pc} s, ${pm} KiB" \
    "$(awk -v a="$hc" -v b="$pc" -v c="$hm" -v d="$pm" 'BEGIN{printf "CPU %.2f, memory %+.1f MiB", (b>0?a/b:0), (c-d)/1024}')"
}
if ! command -v paplay >/dev/null || ! command -v parec >/dev/null; then
  row "live ${live_seconds} s beside parec" "skipped" "paplay or parec is not installed" "-"
else
  if command -v pulseaudio >/dev/null; then live_row pa PulseAudio; else
    row "live ${live_seconds} s beside parec, PulseAudio" "skipped" "pulseaudio is not installed" "-"; fi
  if command -v pipewire-pulse >/dev/null && command -v dbus-run-session >/dev/null; then
    live_row pw PipeWire dbus-run-session --; else
    row "live ${live_seconds} s beside parec, PipeWire" "skipped" "pipewire-pulse is not installed" "-"; fi
fi

echo
echo "Machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(uname -sr), $(g++ --version | head -n1)"
echo
echo "| measure | ours | baseline | ratio |"
echo "|---|---|---|---|"
cat "$results"
