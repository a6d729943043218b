// The Delay unit, its lines from the pool and the DC blocker after them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include "song_builder.h"
#include "synth/synth.h"
#include "synth/units.h"

using namespace synth;
using namespace testing_song;

namespace {

// Delay units on record 0, one sample at a time; the DelayCursor goes back
// to the first DelayLine before each sample, as in the render loop.
struct DelayBench {
  UnitBench bench;

  double step(const Unit& unit, double x) {
    bench.engine->delayCursor = 0;
    bench.setStack({x});
    return bench.runTop(unit);
  }
  DelayLine& line(int i) { return bench.engine->delayLines[i]; }
  uint32_t cursor() const { return bench.engine->delayCursor; }
};

constexpr uint8_t kLengthZero = 14;  // first of the table's zero-length entries

TEST(Delay, ResponsesOfAShortLineAndTheDcBlocker) {
  struct Case {
    const char* what;
    Unit unit;
    bool constantInput;  // else 1.0 at sample 0 and 0 afterwards
    std::vector<double> out;
  };
  const Case cases[] = {
      {"length 0, pregain 0.5",
       delay(64, 0, 0, 0, kLengthZero, 1),
       false,
       {0, 0.25, -0.0009765625}},
      {"length 0 with dry path, feedback and damping",
       delay(64, 128, 64, 64, kLengthZero, 1),
       false,
       {1.0, 0.24609375, 0.0576324462890625, 0.04178231954574585}},
      {"DC blocker on a constant",
       delay(0, 128, 0, 0, 0, 1),
       true,
       {1, 0.99609375, 0.9922027587890625}},
  };
  for (const Case& c : cases) {
    DelayBench d;
    for (size_t n = 0; n < c.out.size(); ++n) {
      const double x = (c.constantInput || n == 0) ? 1.0 : 0.0;
      EXPECT_EQ(d.step(c.unit, x), c.out[n]) << c.what << ", sample " << n;
    }
  }
}

TEST(Delay, ImpulseComesBackAfterTheLineLength) {
  DelayBench d;
  const Unit unit = delay(128, 0, 0, 0, 8, 1);  // 1,618 samples
  EXPECT_EQ(d.step(unit, 1.0), 0.0);
  for (int n = 1; n < 1618; ++n) ASSERT_EQ(d.step(unit, 0.0), 0.0) << "sample " << n;
  EXPECT_EQ(d.step(unit, 0.0), 1.0);
  EXPECT_EQ(d.step(unit, 0.0), -0.00390625) << "the DC blocker's answer to the step back";
}

TEST(Delay, DcBlockerDecaysTheStoredOutputInDoublePrecision) {
  // 255/256 x (1 + 2^-23) needs 31 significant bits.
  DelayBench d;
  const float previous = 1.0f + std::ldexp(1.0f, -23);
  d.line(1).dcOut = previous;
  EXPECT_EQ(d.step(delay(0, 0, 0, 0, kLengthZero, 1), 0.0), 0.99609375 * previous);
  EXPECT_EQ(d.line(1).dcIn, 0.0f);
  EXPECT_EQ(d.line(1).dcOut, static_cast<float>(0.99609375 * previous));
}

TEST(Delay, DcStateLivesInTheDelayLineAfterTheLastLine) {
  DelayBench d;
  EXPECT_EQ(d.step(delay(64, 128, 64, 64, 0, 3), 0.75), 0.75);
  EXPECT_EQ(d.cursor(), 3u);
  EXPECT_EQ(d.line(3).dcIn, 0.75f);
  EXPECT_EQ(d.line(3).dcOut, 0.75f);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(d.line(i).dcIn, 0.0f) << i;
    EXPECT_EQ(d.line(i).dcOut, 0.0f) << i;
    EXPECT_EQ(d.line(i).samples[0], 0.1875f) << "x pregain^2 written into line " << i;
  }
  EXPECT_EQ(d.line(3).position, 0) << "DelayLine 3 holds no line here";
}

TEST(Delay, TwoUnitsShareTheDelayLineAfterTheFirst) {
  // The second unit's first line is the DelayLine that holds the first
  // unit's DC state. Against a run where the second unit is moved to lines
  // of its own, nothing may change.
  const Unit first = delay(100, 80, 90, 30, kLengthZero, 1);
  const Unit second = delay(90, 70, 100, 50, 0, 2);
  DelayBench shared, apart;
  for (int n = 0; n < 600; ++n) {
    const double x = std::sin(0.37 * n) + (n == 0 ? 1.0 : 0.0);
    shared.bench.engine->delayCursor = 0;
    shared.bench.setStack({x});
    shared.bench.run(first, 0);
    shared.bench.run(second, 1);
    apart.bench.engine->delayCursor = 0;
    apart.bench.setStack({x});
    apart.bench.run(first, 0);
    apart.bench.engine->delayCursor = 10;
    apart.bench.run(second, 1);
    ASSERT_EQ(shared.bench.stackBottomFirst(), apart.bench.stackBottomFirst()) << "sample " << n;
  }
  EXPECT_EQ(shared.cursor(), 3u);
  // DelayLine 1 really serves both: a line of the second, the DC state of the first.
  EXPECT_NE(shared.line(1).dampState, 0.0f);
  EXPECT_NE(shared.line(1).position, 0);
  EXPECT_NE(shared.line(1).dcOut, 0.0f);
  EXPECT_EQ(shared.line(1).dcOut, apart.line(1).dcOut);
  EXPECT_EQ(shared.line(1).dampState, apart.line(10).dampState);
}

TEST(Delay, RunsOnASilentVoice) {
  DelayBench d;
  d.bench.record().note = 0;
  d.bench.engine->delayCursor = 0;
  d.bench.setStack({0.5});
  EXPECT_EQ(d.bench.run(delay(128, 128, 0, 0, 0, 3)), 6u);
  EXPECT_EQ(d.bench.stackBottomFirst(), std::vector<double>{0.5});
  EXPECT_EQ(d.cursor(), 3u);
  EXPECT_EQ(d.line(0).samples[0], 0.5f);
  EXPECT_EQ(d.line(0).position, 1);
}

// Track 0 feeds its note into a Delay of three lines, track 1 into one line.
SongTables twoDelayTracks(bool trackZeroSounds) {
  const std::array<uint8_t, 16> held = {60, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const std::array<uint8_t, 16> other = {40, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  SongBuilder b;
  b.pattern(1, held).pattern(2, other).order(1, 0, 1);
  if (trackZeroSounds) b.order(0, 0, 2);
  return b
      .program(0, {stackOp(kStackPushNote), delay(128, 128, 64, 0, 0, 3), pan(), output(128, 0)})
      .program(
          1, {stackOp(kStackPushNote), delay(128, 64, 0, 0, kLengthZero, 1), pan(), output(128, 0)})
      .build();
}

TEST(Delay, SilentTrackStillTakesItsLines) {
  SongRun silent(twoDelayTracks(false));
  SongRun sounding(twoDelayTracks(true));
  const uint32_t parameterBytes = static_cast<uint32_t>(silent.song.parameterStream.size());
  for (int n = 0; n < 50; ++n) {
    silent.step();
    sounding.step();
    ASSERT_EQ(silent.engine->delayCursor, 4u);
    ASSERT_EQ(silent.engine->parameterPosition, parameterBytes);
    ASSERT_EQ(silent.record(1).mainLeft, sounding.record(1).mainLeft) << "sample " << n;
  }
  EXPECT_EQ(silent.record(0).note, 0);
  EXPECT_EQ(silent.engine->delayLines[0].position, 50) << "the silent track's line steps";
  EXPECT_EQ(silent.engine->delayLines[0].samples[0], 0.0f);
  EXPECT_NE(sounding.engine->delayLines[0].samples[0], 0.0f);
  // Track 1's line is DelayLine 3 in both songs.
  EXPECT_EQ(silent.engine->delayLines[3].samples[0], 0.46875f);
  EXPECT_EQ(sounding.engine->delayLines[3].samples[0], 0.46875f);
}

TEST(Delay, PositionsRunThroughTheLineLengthAndWrap) {
  DelayBench d;
  d.bench.delayLengths[20] = 3;
  d.bench.delayLengths[21] = 1;
  d.bench.delayLengths[22] = 0;
  const Unit unit = delay(128, 0, 0, 0, 20, 3);
  // An impulse returns after 3 samples from the first line, after one from
  // the others; the DC blocker's dcIn shows each sample's sum of the lines.
  const float sums[] = {0, 2, 0, 1, 0, 0, 0};
  for (int n = 0; n < 7; ++n) {
    d.step(unit, n == 0 ? 1.0 : 0.0);
    EXPECT_EQ(d.line(3).dcIn, sums[n]) << "sample " << n;
    EXPECT_EQ(d.line(0).position, (n + 1) % 3) << "sample " << n;
    EXPECT_EQ(d.line(1).position, 0);
    EXPECT_EQ(d.line(2).position, 0);
  }
  // A full-length line never shows its length as a position.
  DelayBench wide;
  for (int n = 1; n <= 1000; ++n) {
    wide.step(delay(128, 0, 0, 0, 0, 1), 0.0);
    ASSERT_EQ(wide.line(0).position, n % 425) << "sample " << n;
  }
}

TEST(Delay, LengthsZeroAndOneBehaveAlike) {
  DelayBench zero, one;
  one.bench.delayLengths[20] = 1;
  for (int n = 0; n < 40; ++n) {
    const double x = std::cos(1.3 * n);
    ASSERT_EQ(zero.step(delay(70, 60, 110, 40, kLengthZero, 1), x),
              one.step(delay(70, 60, 110, 40, 20, 1), x))
        << "sample " << n;
  }
}

TEST(Delay, CountTakesConsecutiveTableEntries) {
  // Index 9, count 8: 1140, 1212, 1300, 1380, 1446 and three lines of length 0.
  DelayBench d;
  const Unit unit = delay(128, 0, 0, 0, 9, 8);
  std::map<int, float> echoes;
  for (int n = 0; n < 1500; ++n) {
    d.step(unit, n == 0 ? 1.0 : 0.0);
    if (d.line(8).dcIn != 0.0f) echoes[n] = d.line(8).dcIn;
  }
  const std::map<int, float> expected = {{1, 3.0f},    {1140, 1.0f}, {1212, 1.0f},
                                         {1300, 1.0f}, {1380, 1.0f}, {1446, 1.0f}};
  EXPECT_EQ(echoes, expected);
  const int positions[8] = {1500 % 1140, 1500 % 1212, 1500 % 1300, 1500 % 1380,
                            1500 % 1446, 0,           0,           0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(d.line(i).position, positions[i]) << "line " << i;
  EXPECT_EQ(d.cursor(), 8u);
}

}  // namespace
