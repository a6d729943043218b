// Playback beside a running render: the render thread publishes frames as
// it writes them while a device thread plays the buffer. Whatever the
// interleaving, every frame the device hands on, in its slot, is either the
// rendered frame or silence: nothing torn, repeated or shifted.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "host/playback.h"
#include "song/shipped_song.h"
#include "synth/synth.h"

namespace host {
namespace {

bool sameBits(const synth::Frame& a, const synth::Frame& b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

TEST(PlaybackBesideRender, PlaysOnlyPublishedFramesWhileTheRenderRuns) {
  constexpr uint32_t kFrames = 3 * 44100;
  constexpr uint32_t kRequest = 256;
  std::vector<synth::Frame> buffer(kFrames);
  synth::RenderProgress progress{};
  synth::EnginePtr engine = synth::makeEngine();

  // The device starts before the render, as it may on a loaded machine, and
  // asks at a few times the real-time rate, so that it may overtake the
  // render at times; any interleaving must give the same kind of result.
  BufferPlayback playback{buffer.data(), kFrames, &progress, 1};
  std::vector<synth::Frame> played;
  std::thread device([&] {
    std::vector<synth::Frame> request(kRequest);
    while (playback.position < kFrames) {
      playback.fill(request.data(), kRequest);
      if (playback.started) played.insert(played.end(), request.begin(), request.end());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::thread render([&] {
    synth::renderFrames(*engine, song::shippedSong(), buffer.data(), kFrames, &progress);
  });
  render.join();
  device.join();

  ASSERT_GE(played.size(), kFrames);
  size_t silentInPlace = 0;
  for (uint32_t i = 0; i < kFrames; ++i) {
    if (sameBits(played[i], buffer[i])) continue;
    ASSERT_TRUE(sameBits(played[i], synth::Frame{0.0f, 0.0f})) << "frame " << i;
    ++silentInPlace;
  }
  // Nothing to assert on how often the device overtook the render; report it.
  RecordProperty("framesSilencedWhileUnpublished", static_cast<int>(silentInPlace));
}

}  // namespace
}  // namespace host
