# Helpers for the demo's end-to-end scripts, sourced by them: a scratch
# folder, an X server (Xvfb) and a sound server (PulseAudio with a float32
# 44,100 Hz stereo null sink) of the script's own, the demo's process,
# screenshots and recordings. Everything started here is stopped, and the
# scratch folder removed, when the script exits.
#
# The sourcing script sets case_name (for messages) and demo_command (the
# demo and its arguments, an array) before it starts the demo. It may define
# before_cleanup, run first on exit, and redefine press_escape.

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  if declare -F before_cleanup >/dev/null; then before_cleanup; fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  [ -n "${E2E_KEEP:-}" ] && cp "$work"/*.f32 "$E2E_KEEP"/ 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL $case_name: $*"
  if [ -s "$work/demo.err" ]; then sed 's/^/  demo stderr: /' "$work/demo.err" | head -n 50; fi
  exit 1
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# wait_for SECONDS COMMAND...: polls COMMAND every 0.2 s until it succeeds.
wait_for() {
  local deadline=$(($(now_ms) + $1 * 1000))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

start_x() {
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  wait_for 30 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$(head -n1 "$work/display")"
  wait_for 30 xdpyinfo >/dev/null 2>&1 || fail "Xvfb at $DISPLAY does not answer"
}

start_sound() {
  # A private server: its own home, runtime directory and socket, and only
  # the one sink, in the demo's own format so that nothing is converted.
  mkdir -p "$work/pulse"
  chmod 700 "$work/pulse"
  export HOME="$work/pulse" XDG_RUNTIME_DIR="$work/pulse" PULSE_RUNTIME_PATH="$work/pulse"
  export PULSE_SERVER="unix:$work/pulse/socket"
  pulseaudio -n -F /dev/null --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --realtime=no --high-priority=yes \
    -L "module-native-protocol-unix socket=$work/pulse/socket auth-anonymous=1" \
    -L "module-null-sink sink_name=demo format=float32le rate=44100 channels=2 norewinds=1" \
    >"$work/pulse.log" 2>&1 &
  pids+=($!)
  wait_for 30 pactl info >/dev/null 2>&1 || fail "PulseAudio did not start: $(cat "$work/pulse.log")"
}

# start_recording FILE: records the sink's monitor as raw float32 frames.
start_recording() {
  recording=$1
  parec -d demo.monitor --format=float32le --rate=44100 --channels=2 --raw \
    >"$recording" 2>"$work/parec.err" &
  parec_pid=$!
  pids+=("$parec_pid")
  wait_for 30 bash -c "pactl list short source-outputs | grep -q ." ||
    fail "parec did not connect: $(cat "$work/parec.err")"
}

recorded_bytes() { stat -c %s "$recording"; }

# wait_recorded SECONDS WANTED: until the recording holds WANTED seconds.
wait_recorded() {
  local wanted=$(($2 * 44100 * 8))
  wait_for "$1" bash -c "[ \$(stat -c %s '$recording') -ge $wanted ]"
}

stop_recording() {
  kill "$parec_pid"
  wait "$parec_pid" 2>/dev/null
}

start_demo() {
  demo_started=$(now_ms)
  "${demo_command[@]}" >"$work/demo.out" 2>"$work/demo.err" &
  demo_pid=$!
  pids+=("$demo_pid")
}

# An ended demo stays a zombie until it is waited for, so kill -0 would
# still find it: ask for its state instead.
demo_running() {
  local state
  state=$(ps -o stat= -p "$demo_pid" 2>/dev/null) && [[ $state != Z* ]]
}
demo_ended() { ! demo_running; }

# wait_demo_exit SECONDS: the demo's exit code, or fails if it is still
# running after SECONDS.
wait_demo_exit() {
  wait_for "$1" demo_ended || fail "still running after $1 s"
  wait "$demo_pid"
}

all_green() {
  import -window root "$work/shot.png" 2>/dev/null || return 1
  local size colours
  size=$(identify -format '%wx%h' "$work/shot.png") || return 1
  colours=$(convert "$work/shot.png" -unique-colors -depth 8 txt:- | grep -v '^#' | awk '{print $3}')
  [ "$size" = "1280x720" ] && [ "$colours" = "#00FF00" ]
}

# The last screenshot's size and first few colours, for messages.
screen_colours() {
  echo "size $(identify -format '%wx%h' "$work/shot.png" 2>/dev/null), colours: $(convert \
"$work/shot.png" -unique-colors -depth 8 txt:- 2>/dev/null | grep -v '^#' | awk '{print $3}' |
    head -5 | tr '\n' ' ')"
}

press_escape() { xdotool key --delay 200 Escape; }

expect_green_then_escape() {
  wait_for 60 all_green || {
    demo_running || fail "the demo ended before showing a green screen"
    fail "the screen is not all pure green after 60 s: $(screen_colours)"
  }
  demo_running || fail "the demo ended by itself"
  local pressed
  pressed=$(now_ms)
  press_escape || fail "xdotool could not press Escape"
  wait_demo_exit 10
  local code=$?
  [ "$code" -eq 0 ] || fail "exit code $code after Escape"
  echo "ended $(($(now_ms) - pressed)) ms after Escape was pressed"
}

stderr_lines() { grep -c '' "$work/demo.err"; }
