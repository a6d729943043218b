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

# shellcheck source=e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"
demo_command=("$demo")

no_sound_server() {
  export SDL_AUDIODRIVER=pulseaudio PULSE_SERVER="unix:$work/no-such-socket"
}

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
    start_recording "$work/capture.f32"
    start_demo
    # Record a good six seconds of playback, then stop the recording before
    # the demo so that its end is not in it.
    wait_recorded 120 $((6 + 3)) || fail "recorded only $(recorded_bytes) bytes in 120 s"
    stop_recording
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
