#include "host/playback.h"

#include <algorithm>

namespace host {

void BufferPlayback::fill(synth::Frame* out, uint32_t count) {
  const uint32_t ready =
      std::min(progress->framesWritten.load(std::memory_order_acquire), frameCount);
  if (!started) {
    if (ready < std::min(startLead, frameCount)) {
      std::fill_n(out, count, synth::Frame{0.0f, 0.0f});
      return;
    }
    started = true;
  }
  uint32_t copied = 0;
  if (position < ready) {
    copied = std::min(count, ready - position);
    std::copy_n(frames + position, copied, out);
  }
  std::fill_n(out + copied, count - copied, synth::Frame{0.0f, 0.0f});
  position += std::min(count, frameCount - position);
}

}  // namespace host
