// The Envelope: rates, thresholds, the release rule and the end of a voice.
#include "synth/envelope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "song_builder.h"
#include "synth/synth.h"
#include "synth/units.h"

using namespace synth;
using namespace testing_song;

namespace {

// One Envelope on record 0 of a fresh engine (note 60), run one sample at a
// time straight through its routine so that runs of millions of samples stay
// cheap.
struct EnvelopeBench {
  UnitBench bench;

  explicit EnvelopeBench(const Unit& unit) {
    bench.bytes = unit.bytes;
    bench.engine->song.parameterStream = bench.bytes.data();
    bench.engine->song.parameterLength = static_cast<uint32_t>(bench.bytes.size());
  }
  // One sample; returns the value pushed.
  double step() {
    Engine& e = *bench.engine;
    e.parameterPosition = 0;
    e.stack.depth = 0;
    runEnvelope(e, bench.record(), bench.workspace());
    return e.stack.values[0];
  }
  // Steps until the state is no longer `from`; returns the samples taken.
  uint32_t samplesToLeave(int32_t from, uint32_t limit) {
    uint32_t n = 0;
    while (state() == from && n < limit) {
      step();
      ++n;
    }
    return n;
  }
  int32_t state() { return bench.workspace().asInt(0); }
  float level() { return bench.workspace().asFloat(1); }
  void set(int32_t state, float level) {
    bench.workspace().setInt(0, state);
    bench.workspace().setFloat(1, level);
  }
};

// A track that plays the Envelope through Pan into the mix; the global
// program passes the mix on, so a frame's left value is half the Envelope.
SongTables envelopeSong(std::vector<Unit> trackProgram, std::array<uint8_t, 16> rows) {
  return SongBuilder()
      .pattern(1, rows)
      .order(0, 0, 1)
      .program(0, std::move(trackProgram))
      .program(16, {accumulate(kAccumulateMain), output(128, 0)})
      .build();
}

TEST(Envelope, FullAttackTakesTwoToThePowerOfThreeSixteenthsOfTheByte) {
  // Steps of 2^(-3b/16) are absorbed by levels up to 1 without rounding, so
  // the count is exact. Byte 128 (2^24 samples) is checked at both ends below.
  for (uint8_t byte = 0; byte <= 112; byte += 16) {
    const uint32_t expected = 1u << (3 * byte / 16);
    EnvelopeBench env(envelope(byte, 0, 64, 0, 128));
    EXPECT_EQ(env.samplesToLeave(kAttack, expected + 1), expected) << "attack byte " << int(byte);
    EXPECT_EQ(env.state(), kDecay);
    EXPECT_EQ(env.level(), 1.0f);
  }
}

TEST(Envelope, SlowestTableRateStepsByTwoToTheMinus24) {
  EnvelopeBench env(envelope(128, 0, 64, 0, 128));
  EXPECT_EQ(env.step(), std::ldexp(1.0, -24));
  EXPECT_EQ(env.level(), std::ldexp(1.0f, -24));
  // The last 4,096 steps of the full attack land exactly on 1.
  env.set(kAttack, 1.0f - std::ldexp(1.0f, -12));
  EXPECT_EQ(env.samplesToLeave(kAttack, 5000), 4096u);
  EXPECT_EQ(env.level(), 1.0f);
}

TEST(Envelope, DecayAndReleaseCoverTheDistanceTimesTheRateRoundedUp) {
  struct Case {
    int32_t state;  // kDecay or kRelease
    uint8_t rate;
    uint8_t sustain;
    float from;
    uint32_t samples;
    float to;
  };
  const Case cases[] = {
      {kDecay, 48, 32, 1.0f, 384, 0.25f},           // 0.75 x 512
      {kDecay, 16, 100, 1.0f, 2, 0.78125f},         // 0.21875 x 8 = 1.75, rounded up
      {synth::kRelease, 48, 32, 0.25f, 128, 0.0f},  // 0.25 x 512
      {synth::kRelease, 32, 64, 0.3f, 20, 0.0f},    // 0.3 x 64 = 19.2
  };
  for (const Case& c : cases) {
    EnvelopeBench env(envelope(0, c.rate, c.sustain, c.rate, 128));
    env.set(c.state, c.from);
    if (c.state == synth::kRelease) env.bench.record().releaseCount = 1;
    EXPECT_EQ(env.samplesToLeave(c.state, 100000), c.samples)
        << "state " << c.state << " rate " << int(c.rate);
    EXPECT_EQ(env.level(), c.to);
  }
}

TEST(Envelope, AttackReachesExactlyOneAndFirstFallsAtTheNextSample) {
  struct Case {
    uint8_t attack;
    uint32_t samplesToOne;
  };
  for (Case c : {Case{0, 1}, Case{32, 64}}) {
    EnvelopeBench env(envelope(c.attack, 32, 64, 0, 96));
    for (uint32_t n = 1; n < c.samplesToOne; ++n) {
      env.step();
      ASSERT_EQ(env.state(), kAttack) << "sample " << n;
      ASSERT_LT(env.level(), 1.0f);
    }
    EXPECT_EQ(env.step(), 0.75) << "attack " << int(c.attack) << ": 1.0 x gain";
    EXPECT_EQ(env.level(), 1.0f);
    EXPECT_EQ(env.state(), kDecay);
    EXPECT_EQ(env.step(), (1.0 - 1.0 / 64) * 0.75) << "the decay's first step";
    EXPECT_EQ(env.state(), kDecay);
  }
}

TEST(Envelope, DecayLandsExactlyOnTheSustainLevel) {
  EnvelopeBench env(envelope(0, 32, 64, 0, 128));
  env.step();  // attack byte 0: 1.0 at once
  for (int n = 1; n < 32; ++n) {
    env.step();
    ASSERT_EQ(env.state(), kDecay) << "decay sample " << n;
  }
  EXPECT_EQ(env.level(), 0.5f + 1.0f / 64);
  EXPECT_EQ(env.step(), 0.5) << "the 32nd decay sample";
  EXPECT_EQ(env.state(), kSustain);
  for (int n = 0; n < 100; ++n) ASSERT_EQ(env.step(), 0.5);
  EXPECT_EQ(env.level(), 0.5f);
}

TEST(Envelope, SustainAtOrAboveOneIsReachedByTheFirstDecayStep) {
  struct Case {
    uint8_t sustain;
    float level;
  };
  for (Case c : {Case{128, 1.0f}, Case{129, 1.0078125f}, Case{192, 1.5f}, Case{255, 1.9921875f}}) {
    // Decay byte 128 would take 2^24 samples to fall by 1, yet the level
    // jumps to the sustain value at the first decay sample.
    EnvelopeBench env(envelope(0, 128, c.sustain, 0, 128));
    env.step();
    EXPECT_EQ(env.step(), static_cast<double>(c.level)) << "sustain " << int(c.sustain);
    EXPECT_EQ(env.state(), kSustain);
    EXPECT_EQ(env.level(), c.level);
  }
}

TEST(Envelope, ReleaseZeroEndsTheVoiceInTheSameSampleOnlyAsTheFirstUnit) {
  // Note at tick 0, release row at tick 2; the sustain 0.5 is held by then.
  const std::array<uint8_t, 16> rows = {60, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  for (bool first : {true, false}) {
    std::vector<Unit> program = {envelope(0, 32, 64, 0, 128), pan(), output(128, 0)};
    if (!first) program.insert(program.begin(), noOp());
    const int unit = first ? 0 : 1;
    SongRun run(envelopeSong(program, rows));
    const InstrumentRecord& r = run.record(0);
    while (run.frame < 2 * kSamplesPerTick) run.step();
    EXPECT_EQ(r.workspaces[unit].asInt(0), kSustain);
    EXPECT_EQ(r.mainLeft, 0.25f);

    EXPECT_EQ(run.step().left, 0.0f) << "released and finished in the row's sample";
    EXPECT_EQ(r.workspaces[unit].asInt(0), kFinished);
    EXPECT_EQ(r.workspaces[unit].asFloat(1), 0.0f);
    EXPECT_EQ(r.note, first ? 0 : 60) << (first ? "first unit" : "second unit");

    EXPECT_EQ(run.step().left, 0.0f);
    EXPECT_EQ(r.workspaces[unit].asInt(0), kFinished) << "stays finished";
    EXPECT_EQ(r.releaseCount, 1);
  }
}

TEST(Envelope, ReleaseRowDuringTheAttackFallsFromTheLevelReached) {
  // Attack byte 64 needs 4,096 samples; the release row comes after 2,448.
  const std::array<uint8_t, 16> rows = {60, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  SongRun run(envelopeSong({envelope(64, 0, 64, 32, 128), pan(), output(128, 0)}, rows));
  const InstrumentRecord& r = run.record(0);
  const UnitWorkspace& ws = r.workspaces[0];
  while (run.frame < kSamplesPerTick) run.step();
  const float reached = kSamplesPerTick / 4096.0f;  // 0.59765625
  EXPECT_EQ(ws.asInt(0), kAttack);
  EXPECT_EQ(ws.asFloat(1), reached);

  run.step();
  EXPECT_EQ(ws.asInt(0), synth::kRelease);
  EXPECT_EQ(ws.asFloat(1), reached - 1.0f / 64);
  // 0.59765625 x 64 = 38.25: the 39th release sample reaches 0 and ends the voice.
  while (run.frame < kSamplesPerTick + 38) {
    run.step();
    ASSERT_EQ(r.note, 60) << "frame " << run.frame - 1;
  }
  run.step();
  EXPECT_EQ(ws.asInt(0), kFinished);
  EXPECT_EQ(r.note, 0);
}

TEST(Envelope, ReleaseRuleOverridesEveryState) {
  // A level of 0.5 in each state, as a Store could leave it after the end.
  for (int32_t state : {kAttack, kDecay, kSustain, synth::kRelease, kFinished}) {
    EnvelopeBench env(envelope(0, 0, 100, 32, 128));
    env.set(state, 0.5f);
    env.bench.record().releaseCount = 3;
    EXPECT_EQ(env.step(), 0.5 - 1.0 / 64) << "from state " << state;
    EXPECT_EQ(env.state(), synth::kRelease);
    EXPECT_EQ(env.level(), 0.5f - 1.0f / 64);
  }
}

TEST(Envelope, GainModulationIsAddedToTheGain) {
  struct Case {
    uint8_t gain;
    float modulation;
    double factor;
  };
  for (Case c : {Case{128, -1.0f, 0.0}, Case{64, 0.25f, 0.75}, Case{0, 0.5f, 0.5}}) {
    EnvelopeBench env(envelope(32, 0, 64, 0, c.gain));
    env.bench.workspace().setFloat(2, c.modulation);
    for (int n = 1; n <= 3; ++n) {
      EXPECT_EQ(env.step(), n / 64.0 * c.factor) << "gain " << int(c.gain) << ", attack";
    }
    env.set(kSustain, 0.375f);
    EXPECT_EQ(env.step(), 0.375 * c.factor) << "gain " << int(c.gain) << ", sustain";
    EXPECT_EQ(env.bench.workspace().asFloat(2), c.modulation) << "the Envelope only reads it";
  }
}

TEST(Envelope, PushesTheUnroundedLevelAndStoresItsFloat32Rounding) {
  // Attack byte 58: the first step is 2^(-10.875), which float32 cannot hold.
  EnvelopeBench env(envelope(58, 0, 64, 0, 96));
  const double step = std::exp2(-10.875);
  ASSERT_NE(static_cast<double>(static_cast<float>(step)), step);
  EXPECT_EQ(env.step(), step * 0.75);
  EXPECT_EQ(env.level(), static_cast<float>(step));
}

TEST(Envelope, AttackByte124AccumulatesFloat32Rounding) {
  // 2^(3 x 124 / 16) would be 9,975,792.3 samples; the stored level rounds
  // every step, so the attack takes 9,455,829.
  EnvelopeBench env(envelope(124, 0, 64, 0, 128));
  EXPECT_EQ(env.samplesToLeave(kAttack, 10000000), 9455829u);
  EXPECT_EQ(env.level(), 1.0f);
}

TEST(Envelope, Release112FromAboveOne) {
  EnvelopeBench env(envelope(0, 0, 192, 112, 128));
  env.set(kSustain, 1.5f);
  env.bench.record().releaseCount = 1;
  env.step();
  EXPECT_EQ(env.state(), synth::kRelease) << "the release rule acts at the first run";
  EXPECT_EQ(env.level(), 1.5f - std::ldexp(1.0f, -21));
  EXPECT_EQ(1 + env.samplesToLeave(synth::kRelease, 3500000), 3145728u);
  EXPECT_EQ(env.state(), kFinished);
  EXPECT_EQ(env.level(), 0.0f);
}

TEST(Envelope, StepsBelowHalfTheFloatSpacingNeverMoveTheLevel) {
  // Decay and release from 1.0, for every byte from 134 on.
  for (int byte = 134; byte <= 255; ++byte) {
    for (int32_t state : {kDecay, synth::kRelease}) {
      auto b = static_cast<uint8_t>(byte);
      EnvelopeBench env(envelope(0, b, 0, b, 128));
      env.set(state, 1.0f);
      env.bench.record().releaseCount = state == synth::kRelease ? 1 : 0;
      for (int n = 0; n < 3; ++n) env.step();
      EXPECT_EQ(env.level(), 1.0f) << "byte " << byte << " state " << state;
      EXPECT_EQ(env.state(), state);
    }
  }
  // Release byte 128 above 1: the step is exactly half the spacing there,
  // and the tie rounds back to the even level.
  EnvelopeBench env(envelope(0, 0, 192, 128, 128));
  env.set(kSustain, 1.5f);
  env.bench.record().releaseCount = 1;
  for (int n = 0; n < 3; ++n) env.step();
  EXPECT_EQ(env.level(), 1.5f);
  EXPECT_EQ(env.state(), synth::kRelease);
  // Byte 133 still moves down from 1.0.
  EnvelopeBench moving(envelope(0, 133, 0, 0, 128));
  moving.set(kDecay, 1.0f);
  moving.step();
  EXPECT_EQ(moving.level(), 1.0f - std::ldexp(1.0f, -24));
}

TEST(Envelope, SlowAttacksStallAtAPowerOfTwo) {
  // For byte b >= 134 the attack stops at 2^k, k = 24 - 3b/16 rounded up:
  // below 2^k every step still rounds up to the next float32, at 2^k it
  // rounds back. Start 64 float32 steps below it.
  for (int byte = 134; byte <= 255; ++byte) {
    const int k = static_cast<int>(std::ceil(24 - 3.0 * byte / 16));
    const float stall = std::ldexp(1.0f, k);
    const float named = byte <= 138 ? 0.5f : byte <= 143 ? 0.25f : byte <= 149 ? 0.125f : stall;
    EXPECT_EQ(stall, named) << "byte " << byte;
    EnvelopeBench env(envelope(static_cast<uint8_t>(byte), 0, 64, 0, 128));
    env.set(kAttack, stall - 64 * std::ldexp(stall, -24));
    for (int n = 0; n < 64; ++n) env.step();
    EXPECT_EQ(env.level(), stall) << "byte " << byte;
    for (int n = 0; n < 16; ++n) env.step();
    EXPECT_EQ(env.level(), stall) << "byte " << byte;
    EXPECT_EQ(env.state(), kAttack);
  }
}

TEST(Envelope, AttacksJustAboveByte128StillReachOne) {
  // Bytes 129..133 step by less than one float32 spacing below 1 but more
  // than half of it: one spacing per sample. The 64th sample stores 1.0
  // while its unrounded level is still below 1, so the state changes only
  // at the 65th.
  for (int byte = 129; byte <= 133; ++byte) {
    EnvelopeBench env(envelope(static_cast<uint8_t>(byte), 0, 64, 0, 128));
    env.set(kAttack, 1.0f - 64 * std::ldexp(1.0f, -24));
    for (int n = 0; n < 64; ++n) env.step();
    EXPECT_EQ(env.level(), 1.0f) << "byte " << byte;
    EXPECT_EQ(env.state(), kAttack) << "byte " << byte;
    env.step();
    EXPECT_EQ(env.state(), kDecay) << "byte " << byte;
  }
}

TEST(Envelope, SilentVoicePushesZeroAndTouchesNothing) {
  UnitBench bench;
  bench.record().note = 0;
  bench.record().releaseCount = 2;
  bench.workspace().setInt(0, kDecay);
  bench.workspace().setFloat(1, 0.3f);
  bench.workspace().setFloat(2, 0.5f);
  bench.setStack({});
  EXPECT_EQ(bench.run(envelope(0, 0, 64, 0, 128)), 5u);
  EXPECT_EQ(bench.stackBottomFirst(), std::vector<double>{0.0});
  EXPECT_EQ(bench.workspace().asInt(0), kDecay) << "no release rule on a silent voice";
  EXPECT_EQ(bench.workspace().asFloat(1), 0.3f);
  EXPECT_EQ(bench.workspace().asFloat(2), 0.5f);
}

}  // namespace
