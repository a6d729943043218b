#!/usr/bin/awk -f
# Checks the calls that demo.exe's own code made, from Wine's relay trace
# (WINEDEBUG=+pid,+relay; lines "PID:TID:Call DLL.NAME(ARGS) ret=ADDR" and
# "PID:TID:Ret  DLL.NAME() retval=VALUE ret=ADDR").
#
# The demo's process is the one that asks for a window of the class atom
# 0xC018; its own calls are those returning into its code (the image's
# first 16 MiB at 0x140000000). Start-up must make the calls below in this
# order with these arguments, the frame loop the same six calls per frame,
# and the end one ExitProcess(0) after Escape was seen. Calls that would
# define a window class or handle window messages must not appear.
#
# Argument values are compared as 32-bit hexadecimal without leading zeros
# (the trace prints whole registers; the calls take 32-bit values).
# Prints a summary; exit code 0 if everything holds, 1 otherwise.

function short(value) {
  value = tolower(value)
  if (length(value) > 8) value = substr(value, length(value) - 7)
  sub(/^0+/, "", value)
  return value == "" ? "0" : value
}

# "DLL.NAME(a,b,...)" with each argument shortened; string arguments become
# their quoted text alone.
function normalise(call,    open, name, args, n, parts, i, out, quote) {
  open = index(call, "(")
  name = substr(call, 1, open - 1)
  sub(/^[A-Za-z0-9_]+\./, "", name)
  args = substr(call, open + 1)
  sub(/\)$/, "", args)
  out = name "("
  if (args != "") {
    n = split(args, parts, ",")
    for (i = 1; i <= n; ++i) {
      quote = index(parts[i], "\"")
      out = out (i > 1 ? "," : "") (quote ? substr(parts[i], quote) : short(parts[i]))
    }
  }
  return out ")"
}

function problem(text) {
  problems = problems "  " text "\n"
  ++problemCount
}

BEGIN { demoPid = ""; count = 0 }

demoPid == "" && /:Call user32\.CreateWindowExA\(00000000,0000c018,/ {
  split($0, ids, ":")
  demoPid = ids[1]
  mainThread = ids[2]
}

demoPid != "" && /:(Call|Ret)  ?[A-Za-z0-9_]+\.[A-Za-z0-9_]+\(.* ret=140[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f]$/ {
  split($0, ids, ":")
  if (ids[1] != demoPid) next
  line = $0
  sub(/ ret=[0-9a-f]+$/, "", line)
  sub(/^[0-9a-f]+:[0-9a-f]+:/, "", line)
  if (line ~ /^Call /) {
    sub(/^Call /, "", line)
    call = normalise(line)
    if (call ~ /^(RegisterClass|DefWindowProc|PeekMessage|GetMessage|DispatchMessage|TranslateMessage)/) {
      problem("the program calls " call)
    }
    if (ids[2] != mainThread) {
      problem("thread " ids[2] " calls " call)
      next
    }
    calls[++count] = call
    results[count] = ""
  } else if (ids[2] == mainThread && count > 0) {
    value = line
    sub(/^.*retval=/, "", value)
    results[count] = short(value)
  }
}

# expect(PATTERN, WHAT): the next call must match the regular expression.
# After the first unexpected call the rest is not compared.
function expect(pattern, what) {
  if (broken) return 0
  if (at > count) {
    problem("missing " what ": the trace ends")
    broken = 1
    return 0
  }
  if (calls[at] !~ ("^" pattern "$")) {
    problem("call " at ": " calls[at] " where " what " was expected")
    broken = 1
    return 0
  }
  ++at
  return 1
}

END {
  if (demoPid == "") {
    print "no call of CreateWindowExA with the class atom 0xC018 in the trace"
    exit 1
  }
  at = 1
  popup = ",0,90000000,0,0,500,2d0,0,0,0,0\\)"
  expect("CreateWindowExA\\(0,c018" popup, "CreateWindowExA(0, atom 0xC018, no name, WS_POPUP|WS_VISIBLE, 0, 0, 1280, 720, ...)")
  windowClass = "the class atom 0xC018"
  if (results[at - 1] == "0") {
    expect("CreateWindowExA\\(0,\"static\"" popup, "CreateWindowExA with the class \"static\"")
    windowClass = "the class \"static\" (no class under atom 0xC018)"
  }
  hwnd = results[at - 1]
  expect("GetDC\\(" hwnd "\\)", "GetDC(the window)")
  hdc = results[at - 1]
  expect("SetPixelFormat\\(" hdc ",7,[0-9a-f]+\\)", "SetPixelFormat(the DC, 7, the descriptor)")
  pixelFormat = "7"
  if (results[at - 1] == "0") {
    expect("ChoosePixelFormat\\(" hdc ",[0-9a-f]+\\)", "ChoosePixelFormat after format 7 was refused")
    pixelFormat = results[at - 1]
    expect("SetPixelFormat\\(" hdc "," pixelFormat ",[0-9a-f]+\\)", "SetPixelFormat with the chosen format")
    pixelFormat = pixelFormat " (chosen; 7 was refused)"
  }
  expect("wglCreateContext\\(" hdc "\\)", "wglCreateContext(the DC)")
  context = results[at - 1]
  expect("wglMakeCurrent\\(" hdc "," context "\\)", "wglMakeCurrent(the DC, the context)")
  expect("ShowCursor\\(0\\)", "ShowCursor(FALSE)")
  expect("wglGetProcAddress\\(\"glCreateShaderProgramv\"\\)", "wglGetProcAddress(\"glCreateShaderProgramv\")")
  # The host logic checks the link status and reads the log only on failure.
  while (at <= count && calls[at] ~ /^wglGetProcAddress\("glGetProgram(iv|InfoLog)"\)$/) ++at
  expect("wglGetProcAddress\\(\"glUseProgram\"\\)", "wglGetProcAddress(\"glUseProgram\")")
  expect("CreateThread\\(0,0,[0-9a-f]+,[0-9a-f]+,0,0\\)", "CreateThread(no attributes, default stack, the routine, the buffer, 0, no id)")
  split(calls[at - 1], threadArgs, ",")
  if (threadArgs[4] == "0") problem("the render thread's argument is null")
  expect("waveOutOpen\\([0-9a-f]+,ffffffff,[0-9a-f]+,0,0,0\\)", "waveOutOpen(&handle, WAVE_MAPPER, &format, no callback)")
  expect("waveOutPrepareHeader\\([0-9a-f]+,[0-9a-f]+,30\\)", "waveOutPrepareHeader(the device, the header, its size)")
  split(calls[at - 1], prepared, ",")
  expect("waveOutWrite\\(" substr(prepared[1], length("waveOutPrepareHeader(") + 1) "," prepared[2] ",30\\)", "waveOutWrite(the same device and header)")
  expect("timeGetTime\\(\\)", "timeGetTime() for the start time")

  frames = 0
  escape = ""
  while (!broken && at <= count && calls[at] !~ /^ExitProcess/) {
    expect("timeGetTime\\(\\)", "timeGetTime() at the frame's start")
    expect("wglGetProcAddress\\(\"glGetUniformLocation\"\\)", "wglGetProcAddress(\"glGetUniformLocation\")")
    expect("wglGetProcAddress\\(\"glUniform1i\"\\)", "wglGetProcAddress(\"glUniform1i\")")
    expect("glRects\\(ffffffff,ffffffff,1,1\\)", "glRects(-1, -1, 1, 1)")
    expect("SwapBuffers\\(" hdc "\\)", "SwapBuffers(the DC)")
    expect("GetAsyncKeyState\\(1b\\)", "GetAsyncKeyState(VK_ESCAPE)")
    if (broken) break
    ++frames
    escape = results[at - 1]
  }
  expect("ExitProcess\\(0\\)", "ExitProcess(0)")
  if (!broken && at <= count) problem("calls after ExitProcess: " calls[at])
  if (!broken && frames == 0) problem("no frame was drawn")
  if (!broken && escape == "0") problem("the loop ended although GetAsyncKeyState returned 0")

  if (problemCount > 0) {
    printf "demo.exe made %d calls of those traced, with %d problems:\n%s", count, problemCount, problems
    exit 1
  }
  printf "demo.exe made %d calls of those traced: start-up with %s and pixel format %s, then %d frames of six calls, then ExitProcess(0)\n", count, windowClass, pixelFormat, frames
}
