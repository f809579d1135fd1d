#!/usr/bin/env bash
# Runs speechgap inside a PipeWire and a speech-dispatcher of its own
# (nothing system-wide is started or touched, everything it started is
# ended on the way out) and prints the medians.
#
#   bench/speechgap/speechgap.sh SPEECHGAP PROGRAM [RUNS]
#   SPEECHGAP_SHOW=1 ...   also draws what was heard after each F1
#   SPEECHGAP_KEEP=1 ...   keeps the stack's directory (its logs) afterwards
#
# The stack has one null sink "mesa" and two one-channel sinks over it: the
# program's sound (ALSA default, through pipewire-alsa) reaches mesa's left
# channel, speech-dispatcher's (espeak-ng, through pipewire-pulse) its right
# one, so that one recording of mesa's monitor holds both on one time line.
set -euo pipefail
speechgap="$1"
program="$2"
runs="${3:-5}"

for tool in pipewire wireplumber pipewire-pulse pactl parec dbus-daemon speech-dispatcher spd-say; do
  command -v "$tool" >/dev/null || { echo "speechgap: $tool is not installed (scripts/setup)"; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/kalimbro-speech.XXXXXX")"
pids=()
stopStack() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null || true
  done
  [[ -n ${SPEECHGAP_KEEP:-} ]] || rm -rf "$work"
}
trap stopStack EXIT

mkdir -m 700 "$work/run"
mkdir -p "$work/speechd/modules" "$work/log"
export XDG_RUNTIME_DIR="$work/run" PIPEWIRE_RUNTIME_DIR="$work/run" PULSE_RUNTIME_PATH="$work/run/pulse"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/run/bus"
dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork >"$work/log/dbus" 2>&1 &
pids+=($!)
for ((i = 0; i < 50; i++)); do [[ -S $work/run/bus ]] && break; sleep 0.1; done
pipewire >"$work/log/pipewire" 2>&1 &
pids+=($!)
for ((i = 0; i < 50; i++)); do [[ -S $work/run/pipewire-0 ]] && break; sleep 0.1; done
wireplumber >"$work/log/wireplumber" 2>&1 &
pids+=($!)
pipewire-pulse >"$work/log/pipewire-pulse" 2>&1 &
pids+=($!)
# The Pulse front end answers before the session manager has made the
# default sink: wait for that too.
for ((i = 0; i < 100; i++)); do pactl list short sinks 2>/dev/null | grep -q . && break; sleep 0.1; done
pactl load-module module-null-sink sink_name=mesa rate=48000 channels=2 \
  channel_map=front-left,front-right >/dev/null
pactl load-module module-remap-sink sink_name=programa master=mesa channels=1 \
  master_channel_map=front-left channel_map=mono >/dev/null
pactl load-module module-remap-sink sink_name=servidor master=mesa channels=1 \
  master_channel_map=front-right channel_map=mono >/dev/null
pactl set-default-sink programa

printf '%s\n' "LogLevel 3" "LogDir \"$work/log\"" 'AudioOutputMethod "pulse"' \
  'AddModule "espeak-ng" "sd_espeak-ng" "espeak-ng.conf"' 'DefaultModule espeak-ng' \
  'DefaultLanguage "pt-BR"' >"$work/speechd/speechd.conf"
: >"$work/speechd/modules/espeak-ng.conf"
PULSE_SINK=servidor speech-dispatcher --run-single --timeout 0 --config-dir "$work/speechd" \
  --module-dir /usr/lib/speech-dispatcher-modules --communication-method unix_socket \
  --socket-path "$work/speechd.sock" --pid-file "$work/speechd.pid" --log-dir "$work/log" \
  >"$work/log/speechd" 2>&1 &
pids+=($!)
for ((i = 0; i < 100; i++)); do [[ -S $work/speechd.sock ]] && break; sleep 0.1; done
export SPEECHD_ADDRESS="unix_socket:$work/speechd.sock"

"$speechgap" "$program" mesa.monitor "$runs" | tee "$work/gaps"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# One column of the runs: its median, least and greatest value, and how many
# runs could not tell the sound and the line apart ("-").
summary() {
  local values
  values="$(cut -d' ' -f"$1" "$work/gaps" | grep -v '^-$' || true)"
  printf 'median %s ms (min %s, max %s; %s of %s runs not told apart)' "$(median <<<"$values")" \
    "$(sort -n <<<"$values" | head -1)" "$(sort -n <<<"$values" | tail -1)" \
    "$(cut -d' ' -f"$1" "$work/gaps" | grep -c '^-$' || true)" "$(wc -l <"$work/gaps")"
}
printf 'spoken help (F1), %s runs, %s\n' "$runs" \
  "$(nproc) cores, $(uptime | sed 's/.*load average/load average/')"
printf '  from the end of the opening sound to the first line: %s\n' "$(summary 1)"
printf '  the same with F1 pressed while the prompt is spoken: %s\n' "$(summary 2)"
ratio() {
  cut -d' ' -f"$1" "$work/gaps" | grep -v '^-$' | median
}
printf 'lines written in pieces, time over their words said as one message (median):\n'
printf '  F6 in the play command: %s\n' "$(ratio 3)"
printf '  the jump to a pause: %s\n' "$(ratio 4)"
