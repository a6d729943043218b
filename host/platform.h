// What the demo needs from the system it runs on, and nothing more.
//
// The demo's own logic (start-up order, frame clock, exit tests) lives in
// demo.cpp and only talks to this interface. Each system supplies one
// implementation: platform_sdl.cpp for desktops that SDL2 serves; a native
// Windows layer implements the same calls with its own window, GL and sound
// functions.
//
// Start-up operations return false on failure and leave a one-line reason
// in failureReason(); every other operation cannot fail or does not say.
#pragma once

#include <cstdint>

#include "synth/synth.h"

// GL entry points use the system's GL calling convention, which differs from
// the C default only on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define HOST_GLAPI __stdcall
#else
#define HOST_GLAPI
#endif

namespace host {

// Any GL entry point, as returned by name; cast to its real type before use.
using GlProc = void (*)();

class Platform {
 public:
  // A visible, untitled, undecorated window of width x height pixels at the
  // screen's top-left corner, with a double-buffered RGBA GL surface.
  virtual bool openWindow(int width, int height) = 0;

  // A GL context for the window's surface, current on the calling thread for
  // the rest of the run. It must offer separable fragment-only programs
  // (glCreateShaderProgramv) and the fixed-function pipeline (glRects).
  virtual bool createGlContext() = 0;

  virtual void hideCursor() = 0;

  // The address of a GL entry point of the current context, by name.
  virtual GlProc glProc(const char* name) = 0;

  // glRects(x1, y1, x2, y2): one rectangle through the current program.
  virtual void glRects(int16_t x1, int16_t y1, int16_t x2, int16_t y2) = 0;

  // Shows the frame just drawn.
  virtual void swapBuffers() = 0;

  // Starts a thread that runs routine(argument) and is never joined.
  virtual void startThread(void (*routine)(void*), void* argument) = 0;

  // Plays frames[0, frameCount) of 44,100 Hz stereo float32 once, starting
  // now from the first frame, while another thread is still filling them:
  // only frames below progress->framesWritten (acquired) are played, later
  // ones and everything after the last frame play as silence.
  virtual bool playAudio(const synth::Frame* frames, uint32_t frameCount,
                         const synth::RenderProgress* progress) = 0;

  // Milliseconds of a monotonic system clock; wraps modulo 2^32.
  virtual uint32_t milliseconds() = 0;

  // True if Escape is down now or has been pressed since the previous call,
  // however briefly.
  virtual bool escapePressed() = 0;

  // Why the last start-up operation failed, one line without a newline.
  virtual const char* failureReason() = 0;

  // Writes one line where the user will see it (a newline is added).
  virtual void report(const char* line) = 0;

  // Ends the process with the code at once: the other thread, the sound, the
  // GL context and the window end with it, nothing is torn down first.
  [[noreturn]] virtual void exitProcess(int code) = 0;

 protected:
  ~Platform() = default;
};

// The implementation for the system this program was built for. It lives as
// long as the process.
Platform& systemPlatform();

}  // namespace host
