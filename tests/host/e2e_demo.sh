#!/usr/bin/env bash
# The demo as a user meets it, in a real X server (Xvfb) with the system's
# OpenGL and, where the case needs one, a real sound server (PulseAudio with
# a float32 44,100 Hz stereo null sink). Every server is started here, on
# its own display and socket, and stopped again on exit.
#
# usage: e2e_demo.sh CASE DEMO [AUDIO_MATCH]
#   no-display  without any display the demo exits 1 with one line
#   screen      every pixel is pure green; Escape ends it with code 0
#   no-sound    without a sound server: one warning line, then as screen
#   audio       the sink's monitor records the song bit for bit
#   full-run    left alone it ends by itself after 189 s with code 0
set -uo pipefail
case_name=$1
demo=$2
audio_match=${3:-}

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  [ -n "${E2E_KEEP:-}" ] && cp "$work"/*.f32 "$E2E_KEEP"/ 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL $case_name: $*"
  if [ -s "$work/demo.err" ]; then sed 's/^/  demo stderr: /' "$work/demo.err"; fi
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

no_sound_server() {
  export SDL_AUDIODRIVER=pulseaudio PULSE_SERVER="unix:$work/no-such-socket"
}

start_demo() {
  demo_started=$(now_ms)
  "$demo" >"$work/demo.out" 2>"$work/demo.err" &
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

expect_green_then_escape() {
  wait_for 60 all_green || {
    demo_running || fail "the demo ended before showing a green screen"
    fail "the screen is not all pure green after 60 s: size $(identify -format '%wx%h' \
"$work/shot.png" 2>/dev/null), colours: $(convert "$work/shot.png" -unique-colors -depth 8 \
txt:- 2>/dev/null | grep -v '^#' | awk '{print $3}' | head -5 | tr '\n' ' ')"
  }
  demo_running || fail "the demo ended by itself"
  local pressed
  pressed=$(now_ms)
  xdotool key --delay 200 Escape || fail "xdotool could not press Escape"
  wait_demo_exit 10
  local code=$?
  [ "$code" -eq 0 ] || fail "exit code $code after Escape"
  echo "ended $(($(now_ms) - pressed)) ms after Escape was pressed"
}

stderr_lines() { grep -c '' "$work/demo.err"; }

case "$case_name" in
  no-display)
    unset DISPLAY WAYLAND_DISPLAY
    start_demo
    wait_demo_exit 30
    code=$?
    [ "$code" -eq 1 ] || fail "exit code $code without a display, expected 1"
    [ "$(stderr_lines)" -eq 1 ] || fail "expected one line on stderr"
    grep -q 'window' "$work/demo.err" && grep -q 'DISPLAY' "$work/demo.err" ||
      fail "the line names neither the window nor DISPLAY"
    ;;
  screen)
    start_x
    start_sound
    start_demo
    expect_green_then_escape
    # With a display and a sound server the demo has nothing to say; a
    # sanitizer's report would land here too.
    [ ! -s "$work/demo.err" ] || fail "unexpected output on stderr"
    ;;
  no-sound)
    start_x
    no_sound_server
    start_demo
    expect_green_then_escape
    [ "$(stderr_lines)" -eq 1 ] && grep -q '^demo: no sound: ' "$work/demo.err" ||
      fail "expected one warning line about the missing sound"
    ;;
  audio)
    [ -x "$audio_match" ] || fail "usage: e2e_demo.sh audio DEMO AUDIO_MATCH"
    start_x
    start_sound
    parec -d demo.monitor --format=float32le --rate=44100 --channels=2 --raw \
      >"$work/capture.f32" 2>"$work/parec.err" &
    parec_pid=$!
    pids+=("$parec_pid")
    wait_for 30 bash -c "pactl list short source-outputs | grep -q ." ||
      fail "parec did not connect: $(cat "$work/parec.err")"
    start_demo
    # Record a good six seconds of playback, then stop the recording before
    # the demo so that its end is not in it.
    wanted=$(( (6 + 3) * 44100 * 8 ))
    wait_for 120 bash -c "[ \$(stat -c %s '$work/capture.f32') -ge $wanted ]" ||
      fail "recorded only $(stat -c %s "$work/capture.f32") bytes in 120 s"
    kill "$parec_pid"
    wait "$parec_pid" 2>/dev/null
    demo_running || fail "the demo ended during the recording"
    xdotool key --delay 200 Escape || fail "xdotool could not press Escape"
    wait_demo_exit 10
    code=$?
    [ "$code" -eq 0 ] || fail "exit code $code after Escape"
    "$audio_match" "$work/capture.f32" 4 || fail "the recording is not the song"
    ;;
  full-run)
    start_x
    start_sound
    start_demo
    wait_for 60 all_green || fail "no green screen within 60 s"
    wait_demo_exit 400
    code=$?
    ran=$(($(now_ms) - demo_started))
    [ "$code" -eq 0 ] || fail "exit code $code at the end of the run"
    [ "$ran" -ge 189000 ] || fail "ended after $ran ms, before the run's 189 s"
    echo "ended by itself $ran ms after it was started"
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "PASS $case_name"
