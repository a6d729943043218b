#!/usr/bin/env bash
# The Windows build as a user meets it, run by Wine in a real X server
# (Xvfb) with a real sound server (PulseAudio with a float32 44,100 Hz stereo
# null sink). The Wine prefix, the servers and every file live in the test's
# scratch folder, and everything started here is stopped again on exit.
#
# usage: wine_demo_test.sh CASE DEMO_EXE SYNTH_EXE AUDIO_MATCH [LINUX_SYNTH]
#   demo        every pixel pure green; the sound recorded from the sink is
#               the Windows build's own render of the song, bit for bit once
#               aligned; Escape sent to the focused window ends it with 0
#   calls       the system calls the demo makes, traced by Wine: the window,
#               GL, thread and sound calls of start-up in their order and
#               with their arguments, then frame after frame the same six
#               calls; no window class and no message handling of its own
#   no-sound    without a sound device: one warning line, then as demo
#   no-display  without an X display: one line naming the failed step, 1
#   dlls        demo.exe and synth.exe need no DLLs but the system's own
#   synth       synth.exe: raw f32 renders, output files replaced whole, no
#               WAV without libsndfile; with LINUX_SYNTH, compares the
#               Windows and the Linux render of the whole song frame by frame
set -uo pipefail
[ $# -ge 4 ] || {
  echo "usage: wine_demo_test.sh CASE DEMO_EXE SYNTH_EXE AUDIO_MATCH [LINUX_SYNTH]" >&2
  exit 2
}
case_name=$1
# Absolute: some cases run from the scratch folder.
demo_exe=$(realpath -m "$2")
synth_exe=$(realpath -m "$3")
audio_match=$(realpath -m "$4")
linux_synth=${5:+$(realpath -m "$5")}
# shellcheck source=e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

demo_command=(wine "$demo_exe")

# A prefix of its own in the scratch folder. Wine keeps to it and to the
# scratch home: no Mono or Gecko installers, no menu entries.
make_prefix() {
  export HOME="$work/home" WINEPREFIX="$work/prefix" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  mkdir -p "$HOME"
  timeout 300 wineboot -i >"$work/wineboot.log" 2>&1 ||
    fail "wineboot could not make a prefix: $(tail -n 3 "$work/wineboot.log")"
  # wineboot leaves services running; wait until the prefix is quiet.
  timeout 120 wineserver -w || fail "the prefix did not settle after wineboot"
}

# Wine's server outlives the programs by a few seconds: end it and its
# processes with the test.
before_cleanup() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && timeout 30 wineserver -k 2>/dev/null
  return 0
}

# Registry values of the prefix's current user.
set_user_value() {  # set_user_value KEY NAME VALUE
  timeout 60 wine reg add "HKCU\\$1" /v "$2" /d "$3" /f >/dev/null 2>&1 ||
    fail "cannot set $1\\$2 in the prefix"
  timeout 60 wineserver -w
}

# The demo's visible top-level window: Wine names its X class after the
# program.
demo_window() { xdotool search --onlyvisible --class demo.exe 2>/dev/null | head -n1; }
demo_window_shown() { [ -n "$(demo_window)" ]; }

# Keys go to the focused window; GetAsyncKeyState must see the key without
# any window message being read.
press_escape() {
  local window
  wait_for 30 demo_window_shown || fail "no visible window of demo.exe"
  window=$(demo_window)
  timeout 10 xdotool windowfocus --sync "$window" || fail "xdotool could not focus window $window"
  xdotool key --delay 200 Escape
}

# The demo's stderr in Unix line ends: Windows text streams end lines with
# CR LF.
wait_windows_exit() {  # wait_windows_exit SECONDS: the exit code
  local code
  wait_demo_exit "$1"
  code=$?
  sed -i 's/\r$//' "$work/demo.err"
  return "$code"
}

# Start-up reports of the Windows layer: the window class and pixel format,
# then at exit the frame count and rate.
show_reports() {
  grep -E '^demo: (window of|[0-9]+ frames in)' "$work/demo.err" | sed 's/^/  /'
}

expect_reports() {
  grep -q '^demo: window of .*class.*; pixel format [0-9]+' -E "$work/demo.err" ||
    fail "no report of the window class and pixel format"
  grep -q -E '^demo: [0-9]+ frames in [0-9.]+ s .*frames/s' "$work/demo.err" ||
    fail "no frame summary at exit"
}

# The whole song as synth.exe renders it.
render_windows() {  # render_windows OUT
  timeout 300 wine "$synth_exe" render --format f32 -o "$1" \
    >"$work/render.out" 2>"$work/render.err" ||
    fail "synth.exe render failed: $(cat "$work/render.err")"
}

# compare_renders WINDOWS LINUX: whether the two builds' renders of the
# song are identical, and if not, how many frames differ and where. Their
# maths libraries' exp2 and sin may round differently in the last bit; a
# difference is reported, not failed.
compare_renders() {
  local frames=$(($(stat -c %s "$1") / 8))
  if cmp -s "$1" "$2"; then
    echo "the Windows and the Linux render of the song are identical ($frames frames)"
    return
  fi
  cmp -l "$1" "$2" 2>/dev/null | awk -v frames="$frames" '
    { frame = int(($1 - 1) / 8)
      if (frame != last || n == 0) { ++n; if (n == 1) first = frame; last = frame } }
    END { printf "the Windows and the Linux render differ in %d of %d frames, from frame %d to frame %d\n", n, frames, first, last }'
}

case "$case_name" in
  demo)
    [ -x "$audio_match" ] || fail "no audio matcher at $audio_match"
    make_prefix
    start_x
    start_sound
    start_recording "$work/capture.f32"
    start_demo
    wait_for 120 all_green || fail "the screen is not all pure green after 120 s: $(screen_colours)"
    echo "all green $(($(now_ms) - demo_started)) ms after wine was started"
    # A good six seconds of playback, then the recording stops before the
    # demo so that its end is not in it.
    wait_recorded 120 9 || fail "recorded only $(recorded_bytes) bytes in 120 s"
    stop_recording
    demo_running || fail "the demo ended during the recording"
    pressed=$(now_ms)
    press_escape || fail "xdotool could not press Escape"
    wait_windows_exit 30
    code=$?
    [ "$code" -eq 0 ] || fail "exit code $code after Escape"
    echo "ended $(($(now_ms) - pressed)) ms after Escape was pressed"
    expect_reports
    show_reports
    [ "$(stderr_lines)" -eq 2 ] || fail "unexpected output on stderr"
    render_windows "$work/windows.f32"
    "$audio_match" "$work/capture.f32" 4 --reference "$work/windows.f32" --allow-skips ||
      fail "the recording is not the Windows build's render of the song"
    ;;
  calls)
    make_prefix
    # The calls to trace: those the demo must make, and those it must not
    # (a window class or a window procedure of its own, reading messages).
    traced=(
      user32.CreateWindowExA user32.GetDC gdi32.SetPixelFormat gdi32.ChoosePixelFormat
      opengl32.wglCreateContext opengl32.wglMakeCurrent user32.ShowCursor
      opengl32.wglGetProcAddress opengl32.glRects kernel32.CreateThread winmm.waveOutOpen
      winmm.waveOutPrepareHeader winmm.waveOutWrite winmm.timeGetTime user32.GetAsyncKeyState
      gdi32.SwapBuffers kernel32.ExitProcess
      user32.RegisterClassA user32.RegisterClassW user32.RegisterClassExA user32.RegisterClassExW
      user32.DefWindowProcA user32.DefWindowProcW user32.PeekMessageA user32.PeekMessageW
      user32.GetMessageA user32.GetMessageW user32.DispatchMessageA user32.DispatchMessageW
      user32.TranslateMessage
    )
    set_user_value 'Software\Wine\Debug' RelayInclude "$(IFS=';'; echo "${traced[*]}")"
    start_x
    start_sound
    WINEDEBUG=-all,+pid,+relay start_demo
    wait_for 120 all_green || fail "the screen is not all pure green after 120 s: $(screen_colours)"
    sleep 1
    press_escape || fail "xdotool could not press Escape"
    wait_windows_exit 60
    code=$?
    [ "$code" -eq 0 ] || fail "exit code $code after Escape"
    awk -f "$(dirname "$0")/wine_relay_check.awk" "$work/demo.err" || fail "the calls are not as expected"
    ;;
  no-sound)
    make_prefix
    # No audio driver: WinMM offers no device, as on a system without one.
    set_user_value 'Software\Wine\Drivers' Audio ''
    start_x
    start_demo
    wait_for 120 all_green || fail "the screen is not all pure green after 120 s: $(screen_colours)"
    sleep 1
    demo_running || fail "the demo ended without its sound"
    press_escape || fail "xdotool could not press Escape"
    wait_windows_exit 30
    code=$?
    [ "$code" -eq 0 ] || fail "exit code $code after Escape"
    expect_reports
    grep -c '^demo: no sound: waveOutOpen: .*; running without it$' "$work/demo.err" |
      grep -qx 1 || fail "expected one warning line about the missing sound device"
    [ "$(stderr_lines)" -eq 3 ] || fail "unexpected output on stderr"
    grep '^demo: no sound' "$work/demo.err" | sed 's/^/  /'
    ;;
  no-display)
    make_prefix
    unset DISPLAY WAYLAND_DISPLAY
    start_demo
    wait_windows_exit 120
    code=$?
    [ "$code" -eq 1 ] || fail "exit code $code without a display, expected 1"
    [ "$(stderr_lines)" -eq 1 ] || fail "expected one line on stderr"
    grep -q '^demo: cannot [a-z ]*: [A-Za-z]' "$work/demo.err" ||
      fail "the line does not name the failed step"
    sed 's/^/  /' "$work/demo.err"
    ;;
  dlls)
    # What a bare Windows installation has: the C runtime, GCC's runtime,
    # the C++ library and the threads library are linked in.
    system_dlls='^(kernel32|user32|gdi32|opengl32|winmm|msvcrt)\.dll$'
    for exe in "$demo_exe" "$synth_exe"; do
      dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}') ||
        fail "cannot read the imports of $exe"
      [ -n "$dlls" ] || fail "no imports found in $exe"
      others=$(echo "$dlls" | grep -viE "$system_dlls")
      [ -z "$others" ] || fail "$(basename "$exe") needs $(echo $others)"
      echo "$(basename "$exe") needs $(echo $dlls)"
    done
    ;;
  synth)
    make_prefix
    cd "$work" || fail "no scratch folder"
    # WAV output needs libsndfile, which the Windows build does without.
    if timeout 60 wine "$synth_exe" render --format wav --frames 10 -o song.wav 2>err.txt; then
      fail "--format wav succeeded without libsndfile"
    fi
    grep -q 'WAV output is unavailable' err.txt || fail "--format wav: no word of it being unavailable"
    [ ! -e song.wav ] || fail "--format wav left a file"
    # Raw frames by default, written whole under a temporary name and moved
    # over an existing file of the same name.
    printf 'old contents' >out.f32
    timeout 60 wine "$synth_exe" render --frames 4096 -o out.f32 >/dev/null 2>err.txt ||
      fail "render to an existing file failed: $(cat err.txt)"
    [ "$(stat -c %s out.f32)" -eq 32768 ] || fail "out.f32 holds $(stat -c %s out.f32) bytes"
    [ -z "$(ls -A | grep partial)" ] || fail "temporary files left behind: $(ls -A)"
    # Output that cannot be written: exit 1, no file.
    if timeout 60 wine "$synth_exe" render --frames 10 -o 'Z:\nonexistent\dir\out.f32' \
      >/dev/null 2>err.txt; then
      fail "render into a missing folder succeeded"
    fi
    grep -q 'nonexistent' err.txt || fail "the unwritable path is not named: $(cat err.txt)"
    # The first 4096 frames are those of a longer render.
    render_windows whole.f32
    cmp -s out.f32 <(head -c 32768 whole.f32) || fail "--frames 4096 differs from the render's start"
    if [ -n "$linux_synth" ]; then
      "$linux_synth" render --format f32 -o linux.f32 >/dev/null 2>err.txt ||
        fail "the Linux render failed: $(cat err.txt)"
      compare_renders whole.f32 linux.f32
    fi
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "PASS $case_name"
