// The shipped song rendered whole: what its tracks must and must not do, the
// hot right channel of the mix, and a pinned digest of every frame.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "song/shipped_song.h"
#include "synth/synth.h"

using namespace synth;

namespace {

std::string sha256(const void* data, size_t bytes) {
  unsigned char digest[32];
  unsigned int length = 0;
  EVP_Digest(data, bytes, digest, &length, EVP_sha256(), nullptr);
  std::string hex;
  char two[3];
  for (unsigned i = 0; i < length; ++i) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

// What the reference render shows along the way, gathered in one pass.
struct Observed {
  std::vector<Frame> frames = std::vector<Frame>(kSongFrameCount);
  bool quietTracksStayZero = true;     // tracks 5..15: all four output words
  bool track0MainStaysZero = true;
  std::vector<int> track4NoteTicks;    // ticks at which track 4 starts a note
  std::vector<int> track4ReleaseTicks;
  std::vector<int> track2NoteTicks;
  int rightOverOne = 0;  // first 2,600 frames, before the clamp
  float rightPeak = 0;
  float leftPeak = 0;
};

Observed gather() {
  Observed observed;
  Observed* o = &observed;
  {
    EnginePtr engine = makeEngine();
    startEngine(*engine, song::shippedSong());
    const InstrumentRecord* r = engine->records;
    for (uint32_t n = 0; n < kSongFrameCount; ++n) {
      int tick = static_cast<int>(n / kSamplesPerTick);
      int sample = static_cast<int>(n % kSamplesPerTick);
      int32_t releasesBefore = r[4].releaseCount;
      o->frames[n] = renderSample(*engine, tick, sample);
      if (sample == 0) {
        // These tracks' first Envelopes attack at once: a note that starts in
        // this tick leaves its level at exactly 1 and the Envelope decaying.
        auto startsNote = [&](int t) {
          return r[t].note != 0 && r[t].workspaces[0].asInt(0) == 1 &&
                 r[t].workspaces[0].asFloat(1) == 1.0f;
        };
        if (startsNote(4)) o->track4NoteTicks.push_back(tick);
        if (startsNote(2)) o->track2NoteTicks.push_back(tick);
        // The first release row after the note (the rows before it release too).
        if (r[4].releaseCount == 1 && releasesBefore == 0 && !o->track4NoteTicks.empty()) {
          o->track4ReleaseTicks.push_back(tick);
        }
      }
      for (int t = 5; t < kTrackCount; ++t) {
        if (r[t].auxLeft != 0 || r[t].auxRight != 0 || r[t].mainLeft != 0 || r[t].mainRight != 0 ||
            std::signbit(r[t].mainLeft) || std::signbit(r[t].auxLeft)) {
          o->quietTracksStayZero = false;
        }
      }
      if (r[0].mainLeft != 0 || r[0].mainRight != 0) o->track0MainStaysZero = false;
      if (n < 2600) {
        float left = std::fabs(r[kGlobalRecord].mainLeft);
        float right = std::fabs(r[kGlobalRecord].mainRight);
        if (right > 1) ++o->rightOverOne;
        o->rightPeak = std::max(o->rightPeak, right);
        o->leftPeak = std::max(o->leftPeak, left);
      }
    }
  }
  return observed;
}

const Observed& observed() {
  static const Observed result = gather();
  return result;
}

TEST(ShippedRender, TracksFiveToFifteenNeverSound) { EXPECT_TRUE(observed().quietTracksStayZero); }

TEST(ShippedRender, TrackZeroReachesTheMixOnlyThroughItsAuxSend) {
  EXPECT_TRUE(observed().track0MainStaysZero);
}

TEST(ShippedRender, TrackFourPlaysOneLongNote) {
  EXPECT_EQ(observed().track4NoteTicks, std::vector<int>{768});
  EXPECT_EQ(observed().track4ReleaseTicks, std::vector<int>{772});
}

TEST(ShippedRender, TrackTwoHoldsItsLastNoteThroughSlots32To39) {
  const std::vector<int>& ticks = observed().track2NoteTicks;
  ASSERT_FALSE(ticks.empty());
  for (int tick : ticks) {
    EXPECT_FALSE(tick >= 32 * 16 && tick < 40 * 16) << "note at tick " << tick;
  }
  EXPECT_EQ(ticks.front(), 24 * 16) << "the track enters at slot 24";
  EXPECT_LT(ticks.back(), 48 * 16) << "and plays its last note before slot 48";
}

TEST(ShippedRender, RightChannelRunsHotFromTheStart) {
  EXPECT_EQ(observed().rightOverOne, 737);
  EXPECT_NEAR(observed().rightPeak, 2.28, 0.005);
  EXPECT_LE(observed().leftPeak, 0.575f);
}

TEST(ShippedRender, FastPathGivesTheSameFrames) {
  std::vector<Frame> fast(kSongFrameCount);
  EnginePtr engine = makeEngine();
  renderSong(*engine, song::shippedSong(), fast.data());
  const std::vector<Frame>& reference = observed().frames;
  for (uint32_t n = 0; n < kSongFrameCount; ++n) {
    ASSERT_EQ(std::bit_cast<uint64_t>(fast[n]), std::bit_cast<uint64_t>(reference[n]))
        << "frame " << n;
  }
}

// Digests of the whole RenderBuffer and of each sixteenth of it. A change in
// the engine or the song shows up here, and the first block named is where
// the output first moved.
TEST(ShippedRender, DigestsArePinned) {
  const char* const expectedBlocks[16] = {
      "39e0a28bb0f55084cbc0ff402e9e960eaf1b88b32e53c97be6bd48a2254530d4",
      "856b4d51e01800c0dca6e41fadef346f05595f40f6f0d7a22e4482e981a2760c",
      "99a0e688f303f786cf5f47f396cd8b7ce52bb42e1951c16659263f5aca5de63b",
      "64a2e0118382fadbd2689ef9fb1db38d35bd7453395f54615a9333d46463f63c",
      "d29bb4707ab837f4931f1008ec0065b7b624cd1140b80f2c463a5b4b24037595",
      "3dc40bd03ff902b9a2ad5444d0886a62621ae58f5876644bffde321c68307f42",
      "61bea886495e8345b706a77bc07925f29fe4c778f216f6e9dbfd7d0c794deebd",
      "e992f94d5a7dc183b2cb335d0315f7b6178b1e683026955292b34bb6981347a0",
      "318f69501f584e7534b9fc34e4d6d6866480cb342693a3ce30ce798387455c5b",
      "932710e0ff7d012e3a4db3b39518628bfe1bb067ec1e0d630e644405e01ef7d7",
      "e03929fe61289394a042087ca8ab56c7088c8da1f6c55c167aaf09527d4b3bbe",
      "b5c4b28eef777551d9fe3010d17c184d10bc9e59f430be3ab9f3ee728d8cafcc",
      "b20cf15ef8ee18e0ce22a858d48abfb52ae1490d81f2cebfd61fe250760d0a84",
      "a63d79cc77dc567b8c61d0ece07537c8b64fec5d766bd107e2e51f9aeb3c8cc5",
      "3457cfe0cece9bce3b19edbe7dc3a26d034fbb3372ccd39fc54f30b046f5cc79",
      "46cfe3145c1240f74459ca79662381620dc55ab6ceb591fad9852dd9507fa1b4",
  };
  const char* expectedWhole = "b4d16e9587a03d54711866963a247791073d5b38cdafacfb09a14b17529bc1d1";
  const std::vector<Frame>& frames = observed().frames;
  const size_t blockFrames = kSongFrameCount / 16;
  for (int b = 0; b < 16; ++b) {
    ASSERT_EQ(sha256(frames.data() + b * blockFrames, blockFrames * sizeof(Frame)),
              expectedBlocks[b])
        << "block " << b << " (frames " << b * blockFrames << " to " << (b + 1) * blockFrames - 1
        << ") changed first";
  }
  EXPECT_EQ(sha256(frames.data(), frames.size() * sizeof(Frame)), expectedWhole);
}

}  // namespace
