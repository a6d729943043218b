// The Filter (state-variable recurrence, summed outputs) and the Distortion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "song_builder.h"
#include "synth/synth.h"
#include "synth/units.h"

using namespace synth;
using namespace testing_song;

namespace {

// Runs a Filter or Distortion on input x in workspace 0; returns its result.
double shape(UnitBench& bench, const Unit& unit, double x) {
  bench.setStack({x});
  return bench.runTop(unit);
}

struct FilterWords {
  float low, high, band;
};
FilterWords words(UnitBench& bench) {
  const UnitWorkspace& ws = bench.workspace();
  return {ws.asFloat(0), ws.asFloat(1), ws.asFloat(2)};
}

// f = 0.25, q = 0.5, three samples of input 1.0 from zero state.
constexpr FilterWords kThreeSamples[3] = {
    {0.0f, 1.0f, 0.25f},
    {0.0625f, 0.8125f, 0.453125f},
    {0.17578125f, 0.59765625f, 0.6025390625f},
};

TEST(Filter, ThreeSamplesOfEveryOutputCombination) {
  struct Case {
    uint8_t type;
    double out[3];
  };
  const Case cases[] = {
      {kFilterLow, {0, 0.0625, 0.17578125}},
      {kFilterHigh, {1, 0.8125, 0.59765625}},
      {kFilterBand, {0.25, 0.453125, 0.6025390625}},
      {kFilterPeak, {-1, -0.75, -0.421875}},
      {15, {0.25, 0.578125, 0.9541015625}},
      {9, {-1, -0.6875, -0.24609375}},  // 2 x low - high
      {5, {0.25, 0.515625, 0.7783203125}},
      // No output bit: 0, while the state moves on exactly as for the others.
      {0, {0, 0, 0}},
      {16, {0, 0, 0}},
      {240, {0, 0, 0}},
      // Bits 16..128 are ignored.
      {241, {0, 0.0625, 0.17578125}},
  };
  for (const Case& c : cases) {
    UnitBench bench;
    for (int n = 0; n < 3; ++n) {
      EXPECT_EQ(shape(bench, filter(64, 64, c.type), 1.0), c.out[n])
          << "type " << int(c.type) << ", sample " << n;
      FilterWords w = words(bench);
      EXPECT_EQ(w.low, kThreeSamples[n].low) << "type " << int(c.type) << ", sample " << n;
      EXPECT_EQ(w.high, kThreeSamples[n].high) << "type " << int(c.type) << ", sample " << n;
      EXPECT_EQ(w.band, kThreeSamples[n].band) << "type " << int(c.type) << ", sample " << n;
    }
    for (int w = 3; w < kWorkspaceWords; ++w) EXPECT_EQ(bench.workspace().words[w], 0u);
  }
}

TEST(Filter, StepsGoOnWithUnroundedValuesAndSumTheStoredWords) {
  // Zero state, f = 0.5625: high is the input itself and band is f x high.
  // The band must come from the unrounded input, while the output reads
  // the stored float32 words.
  {
    UnitBench bench;
    const double x = 0.1;
    ASSERT_NE(static_cast<float>(0.5625 * x), static_cast<float>(0.5625 * static_cast<float>(x)));
    EXPECT_EQ(shape(bench, filter(96, 64, kFilterHigh), x), static_cast<double>(0.1f));
    EXPECT_EQ(words(bench).band, static_cast<float>(0.5625 * x));
  }
  // low = 1 + 2^-14 + 2^-37 in double, 1 + 2^-14 once stored; the input
  // 1 + 2^-14 leaves high = -2^-37 only if high uses the unrounded low.
  {
    UnitBench bench;
    bench.workspace().setFloat(0, 1.0f);
    bench.workspace().setFloat(2, 1.0f + std::ldexp(1.0f, -23));
    const double x = 1 + std::ldexp(1.0, -14);
    EXPECT_EQ(shape(bench, filter(1, 0, kFilterHigh), x), -std::ldexp(1.0, -37));
    EXPECT_EQ(words(bench).low, static_cast<float>(x));
    EXPECT_EQ(words(bench).band, 1.0f + std::ldexp(1.0f, -23));
  }
}

TEST(Filter, StoresIntoLowAndBandChangeTheContinuationButNotIntoHigh) {
  struct Case {
    int word;
    bool changes;
  };
  for (Case c : {Case{0, true}, Case{1, false}, Case{2, true}}) {
    UnitBench plain, stored;
    for (int n = 0; n < 2; ++n) {
      shape(plain, filter(64, 64, 15), 1.0);
      shape(stored, filter(64, 64, 15), 1.0);
    }
    // A Store unit (workspace 1) writes 0.7 into the Filter's word.
    stored.setStack({0.7});
    stored.run(store(128, static_cast<unsigned>(c.word) | kStorePopFlag), 1);
    ASSERT_EQ(stored.workspace().asFloat(c.word), 0.7f);
    const double a = shape(plain, filter(64, 64, 15), 1.0);
    const double b = shape(stored, filter(64, 64, 15), 1.0);
    EXPECT_EQ(a != b, c.changes) << "word " << c.word;
    EXPECT_EQ(plain.workspace().words[0] != stored.workspace().words[0], c.changes);
    EXPECT_EQ(plain.workspace().words[1] != stored.workspace().words[1], c.changes);
    EXPECT_EQ(plain.workspace().words[2] != stored.workspace().words[2], c.changes);
  }
}

TEST(Filter, SilentVoiceConsumesItsBytesAndTouchesNothing) {
  UnitBench bench;
  bench.record().note = 0;
  bench.workspace().setFloat(0, 0.1f);
  bench.workspace().setFloat(1, 0.2f);
  bench.workspace().setFloat(2, 0.3f);
  bench.setStack({9.0, 2.5});
  EXPECT_EQ(bench.run(filter(64, 64, 15)), 3u);
  EXPECT_EQ(bench.stackBottomFirst(), (std::vector<double>{9.0, 2.5}));
  EXPECT_EQ(words(bench).low, 0.1f);
  EXPECT_EQ(words(bench).high, 0.2f);
  EXPECT_EQ(words(bench).band, 0.3f);
}

TEST(Distortion, ClampsLikeTheOutputStage) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double in, out;
  };
  for (Case c : {Case{0.3, 0.3}, Case{1.7, 1.0}, Case{-2, -1.0}, Case{inf, 1.0}, Case{-inf, -1.0},
                 Case{1.0, 1.0}, Case{-1.0, -1.0}, Case{-0.999, -0.999}}) {
    UnitBench bench;
    EXPECT_EQ(shape(bench, distortion(64), c.in), c.out) << c.in;
  }
  UnitBench bench;
  EXPECT_EQ(shape(bench, distortion(64), std::numeric_limits<double>::quiet_NaN()), 1.0);
  EXPECT_EQ(bench.run(distortion(64)), 1u);
}

TEST(Distortion, DriveShapesHalf) {
  struct Case {
    uint8_t drive;
    double atHalf;  // to 6 digits
  };
  for (Case c :
       {Case{8, 0.0625}, Case{32, 0.25}, Case{64, 0.5}, Case{96, 0.75}, Case{127, 0.992188}}) {
    UnitBench bench;
    EXPECT_NEAR(shape(bench, distortion(c.drive), 0.5), c.atHalf, 5e-7) << int(c.drive);
  }
  UnitBench bench;
  EXPECT_NEAR(shape(bench, distortion(32), -0.25), -0.1, 1e-15);
}

TEST(Distortion, EveryValidDriveIsOddAndKeepsZeroAndTheEnds) {
  for (int drive = 1; drive <= 127; ++drive) {
    const Unit unit = distortion(static_cast<uint8_t>(drive));
    UnitBench bench;
    EXPECT_EQ(shape(bench, unit, 0.0), 0.0) << drive;
    EXPECT_EQ(shape(bench, unit, 1.0), 1.0) << drive;
    EXPECT_EQ(shape(bench, unit, -1.0), -1.0) << drive;
    EXPECT_EQ(shape(bench, unit, 3.0), 1.0) << drive;
    for (double x : {1e-300, 0.1, 0.25, 0.5, 0.9, 0.999999}) {
      const double y = shape(bench, unit, x);
      EXPECT_EQ(shape(bench, unit, -x), -y) << drive << " at " << x;
      EXPECT_GT(y, 0.0) << drive << " at " << x;
      EXPECT_LE(y, 1.0) << drive << " at " << x;
    }
    // Drive above 64 lifts the curve above the identity, below 64 under it.
    const double half = shape(bench, unit, 0.5);
    EXPECT_EQ(half > 0.5, drive > 64) << drive;
    EXPECT_EQ(half < 0.5, drive < 64) << drive;
  }
}

TEST(Distortion, SilentVoiceLeavesItsInput) {
  UnitBench bench;
  bench.record().note = 0;
  bench.setStack({-3.0, 5.0});
  EXPECT_EQ(bench.run(distortion(96)), 1u);
  EXPECT_EQ(bench.stackBottomFirst(), (std::vector<double>{-3.0, 5.0}));
}

}  // namespace
