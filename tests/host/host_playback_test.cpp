// Playing a buffer while it is being filled: what each device request gets
// for a given published count.
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/playback.h"

namespace host {
namespace {

constexpr int kSilence = -1;

struct Request {
  uint32_t published;         // the render's progress when the device asks
  std::vector<int> expected;  // frame index per slot, kSilence for silence
};

struct PlaybackCase {
  const char* name;
  uint32_t frameCount;
  uint32_t startLead;
  std::vector<Request> requests;
};
void PrintTo(const PlaybackCase& c, std::ostream* os) {
  *os << c.name;
}

class PlaybackTest : public ::testing::TestWithParam<PlaybackCase> {
 protected:
  // Frame i holds (i + 1, -(i + 1)); the storage runs on past the buffer
  // with loud frames, so a read beyond the last frame cannot pass for
  // silence.
  PlaybackTest() : storage(GetParam().frameCount + 4, synth::Frame{99.0f, 99.0f}) {
    for (uint32_t i = 0; i < GetParam().frameCount; ++i) {
      storage[i] = {static_cast<float>(i + 1), -static_cast<float>(i + 1)};
    }
  }

  static std::string describe(const std::vector<synth::Frame>& frames) {
    std::ostringstream text;
    for (const synth::Frame& f : frames) text << "(" << f.left << "," << f.right << ") ";
    return text.str();
  }

  std::vector<synth::Frame> storage;
  synth::RenderProgress progress{};
};

TEST_P(PlaybackTest, EachRequestGetsPublishedFramesInOrderAndSilenceElsewhere) {
  const PlaybackCase& c = GetParam();
  BufferPlayback playback{storage.data(), c.frameCount, &progress, c.startLead};
  for (size_t r = 0; r < c.requests.size(); ++r) {
    const Request& request = c.requests[r];
    progress.framesWritten.store(request.published);
    std::vector<synth::Frame> out(request.expected.size(), synth::Frame{-7.0f, -7.0f});
    playback.fill(out.data(), static_cast<uint32_t>(out.size()));

    std::vector<synth::Frame> expected;
    for (int index : request.expected) {
      expected.push_back(index == kSilence ? synth::Frame{0.0f, 0.0f} : storage[index]);
    }
    bool same = true;
    for (size_t i = 0; i < out.size(); ++i) {
      same = same && out[i].left == expected[i].left && out[i].right == expected[i].right;
    }
    EXPECT_TRUE(same) << "request " << r << "\n  got      " << describe(out) << "\n  expected "
                      << describe(expected);
  }
}

constexpr int S = kSilence;

INSTANTIATE_TEST_SUITE_P(
    Cases, PlaybackTest,
    ::testing::Values(
        PlaybackCase{
            "AllPublishedPlaysStraightThrough", 8, 2, {{8, {0, 1, 2, 3, 4}}, {8, {5, 6, 7}}}},
        // Before the lead is published the device hears silence ahead of the
        // first frame; once playing, an unpublished frame is silence in its
        // own slot and is skipped for good.
        PlaybackCase{"WaitsForTheLeadThenSkipsWhatIsLate",
                     8,
                     4,
                     {{0, {S, S}}, {3, {S, S}}, {4, {0, 1}}, {4, {2, 3, S, S}}, {8, {6, 7}}}},
        PlaybackCase{
            "BufferShorterThanTheLeadStartsWhenWhole", 3, 4, {{2, {S, S}}, {3, {0, 1, 2, S}}}},
        PlaybackCase{"SilenceAfterTheLastFrameForever",
                     4,
                     1,
                     {{4, {0, 1, 2}}, {4, {3, S, S}}, {4, {S, S}}, {4, {S}}}},
        PlaybackCase{"NeverReadsPastTheBufferWhateverIsPublished",
                     4,
                     1,
                     {{100, {0, 1, 2, 3, S, S}}, {100, {S, S}}}},
        PlaybackCase{
            "ProgressMidRequestCutsTheRequest", 6, 1, {{1, {0, S, S}}, {6, {3, 4, 5, S}}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace host
