// The demo's own logic: start-up in a fixed order, then one full-screen
// shader frame after another until Escape or the end of the run.
#pragma once

#include <cstdint>

#include "host/platform.h"
#include "synth/synth.h"

namespace host {

inline constexpr int kWindowWidth = 1280;
inline constexpr int kWindowHeight = 720;
// The run ends with the first frame drawn at this elapsed time or later.
inline constexpr int32_t kRunMilliseconds = 189000;

// The RenderBuffer and the routine that fills it. The demo starts `render`
// on its own thread with the buffer's first frame as the argument and plays
// the buffer while it is being filled.
struct Soundtrack {
  synth::Frame* frames;  // frameCount frames, zero until rendered
  uint32_t frameCount;
  synth::RenderProgress* progress;  // frames below framesWritten are final
  void (*render)(void* firstFrame);
};

// Runs the demo on the platform and ends the process: exit code 0 after the
// last frame, 1 if the window, the GL context or the shader program cannot
// be had. Nothing is torn down before the end, not even a running render.
[[noreturn]] void runDemo(Platform& platform, const Soundtrack& soundtrack);

}  // namespace host
