// Playing a RenderBuffer while the render thread is still filling it.
#pragma once

#include <cstdint>

#include "synth/synth.h"

namespace host {

// One pass over the buffer, in the order a sound device asks for frames. It
// reads only frames that the render has published (acquiring its progress),
// so it may run on the device's thread beside the render.
//
// A device asks for frames a little ahead of playing them, and its first
// requests can come before the render has got going. So playback begins only
// once `startLead` frames (or the whole buffer) are published; until then
// the device plays silence before the first frame, not in its place. From
// then on playback keeps time with the device: a frame that is not published
// when its turn comes plays as silence and is never played later. After the
// last frame, everything is silence.
struct BufferPlayback {
  const synth::Frame* frames;
  uint32_t frameCount;
  const synth::RenderProgress* progress;
  uint32_t startLead;
  bool started = false;
  uint32_t position = 0;  // the next frame to play

  // Fills out[0, count) with what the device plays next.
  void fill(synth::Frame* out, uint32_t count);
};

}  // namespace host
