#!/usr/bin/env bash
# One live recording side by side: starts a private sound server (pa:
# PulseAudio, pw: PipeWire with its PulseAudio server, as the live tests
# start them), plays a tone into a null sink "apps", and records its monitor
# for SECONDS with the host and with parec at once. Prints one line:
#   host_cpu_s host_peak_kib parec_cpu_s parec_peak_kib
# and exits 2 when the server cannot start. Run pw under its own session
# bus (dbus-run-session), as PipeWire's session manager expects one.
#   bench/live.sh pa|pw SECONDS HOST_PROGRAM
set -uo pipefail
kind=$1 seconds=$2 host=$3
dir=$(mktemp -d "${TMPDIR:-/tmp}/live-bench-XXXXXX")
servers=()
cleanup() {
  kill "${servers[@]}" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/run" "$dir/home" "$dir/config" "$dir/state" "$dir/temp"
chmod 700 "$dir" "$dir/run"
export HOME=$dir/home XDG_RUNTIME_DIR=$dir/run
if [ "$kind" = pa ]; then
  printf 'load-module module-native-protocol-unix auth-anonymous=1 socket=%s\nload-module module-null-sink sink_name=apps rate=44100 channels=2\n' \
    "$dir/native" >"$dir/server.pa"
  PULSE_RUNTIME_PATH=$dir/run PULSE_STATE_PATH=$dir/state \
    pulseaudio --daemonize=no --exit-idle-time=-1 -n -F "$dir/server.pa" --log-level=error 2>"$dir/server.log" &
  servers+=($!)
  export PULSE_SERVER=unix:$dir/native
else
  unset PULSE_RUNTIME_PATH
  export PIPEWIRE_RUNTIME_DIR=$dir/run XDG_CONFIG_HOME=$dir/config XDG_STATE_HOME=$dir/state
  pipewire >"$dir/server.log" 2>&1 &
  servers+=($!)
  # Its session manager gives up when it finds no PipeWire yet.
  for _ in $(seq 100); do [ -S "$dir/run/pipewire-0" ] && break; sleep 0.05; done
  wireplumber >>"$dir/server.log" 2>&1 &
  servers+=($!)
  pipewire-pulse >>"$dir/server.log" 2>&1 &
  servers+=($!)
  export PULSE_SERVER=unix:$dir/run/pulse/native
fi
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.2; done
pactl info >/dev/null 2>&1 || exit 2
if [ "$kind" = pw ]; then
  pactl load-module module-null-sink sink_name=apps >/dev/null && pactl set-default-sink apps || exit 2
fi
# The tone outlasts the recordings; the monitor takes a moment to start sending.
sox -n -r 44100 -c 2 -b 16 -e signed-integer "$dir/tone.wav" synth $((seconds + 10)) sine 440 vol 0.5
paplay -d apps "$dir/tone.wav" 2>/dev/null &
servers+=($!)
sleep 2
# CPU seconds come from bash's `time` in milliseconds (/usr/bin/time prints
# hundredths, too coarse for a minute of a recorder that wakes once a
# second); the peak resident memory from /usr/bin/time.
measure() {
  local name=$1
  shift
  { TIMEFORMAT='%3U %3S'; time /usr/bin/time -f '%M' -o "$dir/$name.rss" "$@" >/dev/null 2>&1; } 2>"$dir/$name.cpu"
}
measure host "$host" --live --duration "$seconds" --quiet \
  --container-root "$dir/containers" --temp-dir "$dir/temp" &
recording=$!
# timeout sends SIGINT to parec, which then completes its file.
measure parec timeout -s INT "$seconds" parec -d apps.monitor --file-format=wav "$dir/parec.wav" &
wait "$recording" $!
read -r hu hs <"$dir/host.cpu"
read -r pu ps <"$dir/parec.cpu"
awk -v hu="$hu" -v hs="$hs" -v hm="$(tail -n 1 "$dir/host.rss")" -v pu="$pu" -v ps="$ps" \
  -v pm="$(tail -n 1 "$dir/parec.rss")" 'BEGIN{printf "%.3f %d %.3f %d\n", hu+hs, hm, pu+ps, pm}'
