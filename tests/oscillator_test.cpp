// The Oscillator: pitch, phase, the four waveforms and the noise source.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "song_builder.h"
#include "synth/synth.h"
#include "synth/units.h"

using namespace synth;
using namespace testing_song;

namespace {

// The constants as their float32 bit patterns; arithmetic uses them as stored.
const double kTwelfth = std::bit_cast<float>(0x3DAAAAAAu);  // one step below 1/12
const double kPitchScale = std::bit_cast<float>(0x38C265DCu);
const double kLowScale = std::bit_cast<float>(0x38D62B83u);

// Cycles per sample at pitch s semitones.
double increment(double semitones, double scale) {
  return std::exp2(semitones * kTwelfth) * scale;
}

// The new phase of a note's first sample: the increment wrapped as (inc + 1) - 1.
double firstPhase(double inc) {
  return (inc + 1) - 1;
}

// Colour byte 128 with the triangle-saw pushes 2q - 1: exact for the phases
// used here, so the double phase can be checked through the pushed value.
Unit rampOscillator(uint8_t transpose = 64, uint8_t detune = 64, unsigned extraFlags = 0) {
  return oscillator(transpose, detune, 0, 128, 128,
                    static_cast<uint8_t>(kWaveTriangleSaw | extraFlags));
}

double runOnce(UnitBench& bench, const Unit& unit) {
  bench.setStack({});
  return bench.runTop(unit);
}

TEST(Oscillator, IncrementFollowsTheNoteThroughTheStoredConstants) {
  struct Case {
    int note;
    double cyclesPerSample;  // to the digits given
  };
  for (Case c : {Case{81, 0.009977321882}, Case{69, 0.004988661147}, Case{60, 0.002966275757}}) {
    UnitBench bench;
    bench.record().note = c.note;
    const double inc = increment(c.note, kPitchScale);
    EXPECT_NEAR(inc, c.cyclesPerSample, 5e-13) << "note " << c.note;

    const double p = firstPhase(inc);
    EXPECT_EQ(runOnce(bench, rampOscillator()), 2 * p - 1) << "note " << c.note;
    EXPECT_EQ(bench.workspace().asFloat(0), static_cast<float>(p));
    // The next sample continues from the stored float32 phase.
    const double p2 = (inc + bench.workspace().asFloat(0) + 1) - 1;
    EXPECT_EQ(runOnce(bench, rampOscillator()), 2 * p2 - 1) << "note " << c.note;
  }
  EXPECT_GT(increment(69, kPitchScale), increment(81, kPitchScale) / 2)
      << "an octave is a little less than 2";
  // An exact twelfth would give another pitch.
  EXPECT_NE(increment(81, kPitchScale), std::exp2(81.0 / 12) * kPitchScale);
}

TEST(Oscillator, TransposeDetuneAndModulationAreSemitoneSteps) {
  struct Case {
    const char* what;
    uint8_t transpose, detune;
    float transposeModulation;
    int sameAsNote;  // the note that plain settings need for the same pitch
  };
  const Case cases[] = {
      {"detune 0", 64, 0, 0.0f, 59},
      {"detune 128", 64, 128, 0.0f, 61},
      {"transpose 65", 65, 64, 0.0f, 61},
      {"transpose modulation 1/128", 64, 64, 1.0f / 128, 61},
      {"transpose 52", 52, 64, 0.0f, 48},
      {"transpose modulation -12/128", 64, 64, -12.0f / 128, 48},
      {"modulation +1 and detune -1", 64, 0, 1.0f / 128, 60},
  };
  for (const Case& c : cases) {
    UnitBench shifted, plain;
    shifted.workspace().setFloat(1, c.transposeModulation);
    plain.record().note = c.sameAsNote;
    for (int n = 0; n < 3; ++n) {
      EXPECT_EQ(runOnce(shifted, rampOscillator(c.transpose, c.detune)),
                runOnce(plain, rampOscillator()))
          << c.what << ", sample " << n;
      EXPECT_EQ(shifted.workspace().words[0], plain.workspace().words[0]) << c.what;
    }
    EXPECT_EQ(shifted.workspace().asFloat(1), c.transposeModulation) << "only read";
  }
  // Half a semitone of detune.
  UnitBench bench;
  EXPECT_EQ(runOnce(bench, rampOscillator(64, 96)),
            2 * firstPhase(increment(60.5, kPitchScale)) - 1);
}

TEST(Oscillator, LowFrequencyModeIgnoresTheNote) {
  EXPECT_EQ(kLowScale, 1.0212419874733314e-04);
  for (int note : {2, 60, 81, 127}) {
    UnitBench bench;
    bench.record().note = note;
    EXPECT_EQ(runOnce(bench, rampOscillator(64, 64, kLowFrequencyMode)), 2 * kLowScale - 1)
        << "note " << note;
    EXPECT_EQ(bench.workspace().asFloat(0), static_cast<float>(kLowScale));
  }
  // Transpose 88 runs two octaves up: about one cycle per tick.
  UnitBench up;
  runOnce(up, rampOscillator(88, 64, kLowFrequencyMode));
  EXPECT_NEAR(1 / up.workspace().asFloat(0), 2447.9998, 1e-3);
  // A silent voice holds its phase in low-frequency mode too.
  UnitBench silent;
  silent.record().note = 0;
  silent.workspace().setFloat(0, 0.3f);
  EXPECT_EQ(runOnce(silent, rampOscillator(64, 64, kLowFrequencyMode)), 0.0);
  EXPECT_EQ(silent.workspace().asFloat(0), 0.3f);
}

// One low-frequency sample from phase word `phase`. The new phase is then
// exactly kLowScale + phase for the phases used here, so q and w are known
// exactly and the expected values below follow the waveform definitions.
struct ShapeCase {
  const char* what;
  unsigned waveform;
  uint8_t colour;
  float colourModulation;
  float phase;
  float phaseModulation;
  uint8_t phaseOffset;
  double expected;
};

TEST(Oscillator, WaveformsAtAndAroundTheirBreakpoints) {
  const double F = kLowScale;
  const float justBelowF = std::nextafter(static_cast<float>(F), 0.0f);
  const double w = justBelowF;
  const double twoPi = 2 * std::numbers::pi;
  const double q375 = F + 0.375;
  const double q875 = F + 0.875;
  const double qNegative = F - 0.3125;  // phase modulation -1.5 from just above 0.1875
  const ShapeCase cases[] = {
      // q equal to w: the first branch.
      {"sine at q = w", kWaveSine, 0, static_cast<float>(F), 0, 0, 0, std::sin(twoPi)},
      {"triangle-saw at q = w", kWaveTriangleSaw, 0, static_cast<float>(F), 0, 0, 0, 1.0},
      {"pulse at q = w", kWavePulse, 0, static_cast<float>(F), 0, 0, 0, 1.0},
      // q one step above w: the second branch.
      {"sine past w", kWaveSine, 0, justBelowF, 0, 0, 0, 0.0},
      {"pulse past w", kWavePulse, 0, justBelowF, 0, 0, 0, -1.0},
      {"triangle-saw past w", kWaveTriangleSaw, 0, justBelowF, 0, 0, 0,
       ((1 - F) / (1 - w)) * 2 - 1},
      // Colour 1: a rising saw 2q - 1, also across the wrap of the phase.
      {"saw", kWaveTriangleSaw, 128, 0, 0.375f, 0, 0, 2 * q375 - 1},
      {"saw after the wrap", kWaveTriangleSaw, 128, 0, 1.0f - std::ldexp(1.0f, -24), 0, 0,
       2 * (F - std::ldexp(1.0, -24)) - 1},
      {"phase offset 0.25", kWaveTriangleSaw, 128, 0, 0.375f, 0, 32, 2 * (F + 0.625) - 1},
      {"phase modulation 0.5", kWaveTriangleSaw, 128, 0, 0.375f, 0.5f, 0, 2 * q875 - 1},
      {"phase offset wraps", kWaveTriangleSaw, 128, 0, 0.875f, 0, 64, 2 * q375 - 1},
      // Colour 0: the second branch throughout.
      {"sine, colour 0", kWaveSine, 0, 0, 0.375f, 0, 0, 0.0},
      {"pulse, colour 0", kWavePulse, 0, 0, 0.375f, 0, 0, -1.0},
      {"triangle-saw, colour 0", kWaveTriangleSaw, 0, 0, 0.375f, 0, 0, 1 - 2 * q375},
      // Colour 1.5: the first branch throughout, a ramp that stops short of 1.
      {"sine, colour 1.5", kWaveSine, 192, 0, 0.875f, 0, 0, std::sin((q875 / 1.5) * twoPi)},
      {"pulse, colour 1.5", kWavePulse, 192, 0, 0.875f, 0, 0, 1.0},
      {"triangle-saw, colour 1.5", kWaveTriangleSaw, 192, 0, 0.875f, 0, 0, (q875 / 1.5) * 2 - 1},
      // Colour -0.25 through the colour modulation.
      {"sine, colour -0.25", kWaveSine, 0, -0.25f, 0.375f, 0, 0, 0.0},
      {"pulse, colour -0.25", kWavePulse, 0, -0.25f, 0.375f, 0, 0, -1.0},
      {"triangle-saw, colour -0.25", kWaveTriangleSaw, 0, -0.25f, 0.375f, 0, 0,
       ((1 - q375) / 1.25) * 2 - 1},
      // A negative shaping phase is used as it is, not wrapped to 0.6875.
      {"pulse, negative q", kWavePulse, 64, 0, 0.1875f, -1.5f, 0, 1.0},
      {"triangle-saw, negative q", kWaveTriangleSaw, 64, 0, 0.1875f, -1.5f, 0,
       (qNegative / 0.5) * 2 - 1},
      {"sine, negative q", kWaveSine, 64, 0, 0.1875f, -1.5f, 0,
       std::sin((qNegative / 0.5) * twoPi)},
  };
  for (const ShapeCase& c : cases) {
    UnitBench bench;
    bench.workspace().setFloat(0, c.phase);
    bench.workspace().setFloat(4, c.phaseModulation);
    bench.workspace().setFloat(5, c.colourModulation);
    const Unit unit = oscillator(64, 64, c.phaseOffset, c.colour, 128,
                                 static_cast<uint8_t>(c.waveform | kLowFrequencyMode));
    EXPECT_EQ(runOnce(bench, unit), c.expected) << c.what;
  }
  // The checks that give the cases their meaning.
  EXPECT_LT(std::fabs(std::sin(twoPi)), 2.5e-16);
  EXPECT_LT((qNegative / 0.5) * 2 - 1, -1.0);
  EXPECT_LT((q875 / 1.5) * 2 - 1, 2 / 1.5 - 1);
}

TEST(Oscillator, FirstSampleOfANoteStartsFromPhaseZero) {
  // Pulse with colour 0.5 and gain 0.75: q = inc is below 0.5, so +0.75.
  SongTables song =
      SongBuilder()
          .pattern(1, {60, 1, 60, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1})
          .order(0, 0, 1)
          .program(0, {oscillator(64, 64, 0, 64, 96, kWavePulse), pan(), output(128, 0)})
          .build();
  SongRun run(std::move(song));
  const float first = static_cast<float>(firstPhase(increment(60, kPitchScale)));
  run.step();
  EXPECT_EQ(run.record(0).workspaces[0].asFloat(0), first);
  EXPECT_EQ(run.record(0).mainLeft, 0.375f);
  while (run.frame < 2 * kSamplesPerTick) run.step();
  EXPECT_NE(run.record(0).workspaces[0].asFloat(0), first);
  run.step();  // the same note again: the phase starts over
  EXPECT_EQ(run.record(0).workspaces[0].asFloat(0), first);
  EXPECT_EQ(run.record(0).mainLeft, 0.375f);
}

TEST(Oscillator, FlagBitsAbove16AreIgnored) {
  struct Case {
    uint8_t flags, actsAs;
  };
  for (Case c : {Case{226, 2}, Case{225, 1}, Case{228, 4}, Case{232, 8}, Case{242, 18}}) {
    UnitBench withExtra, plain;
    for (int n = 0; n < 4; ++n) {
      EXPECT_EQ(runOnce(withExtra, oscillator(64, 64, 0, 40, 128, c.flags)),
                runOnce(plain, oscillator(64, 64, 0, 40, 128, c.actsAs)))
          << "flags " << int(c.flags) << ", sample " << n;
    }
    EXPECT_EQ(withExtra.workspace().words[0], plain.workspace().words[0]);
    EXPECT_EQ(withExtra.engine->noiseSeed, plain.engine->noiseSeed);
  }
}

TEST(NoiseSource, FirstFourDrawsWithAndWithoutLowFrequencyMode) {
  struct Draw {
    int32_t seed;
    double value;
  };
  const Draw draws[] = {{16007, -7.453840225934982e-06},
                        {256224049, -0.11931362049654126},
                        {-315415337, 0.1468767118640244},
                        {2028240737, -0.9444731925614178}};
  for (unsigned flags : {kWaveNoise, kWaveNoise | kLowFrequencyMode}) {
    UnitBench bench;
    EXPECT_EQ(bench.engine->noiseSeed, 1);
    for (const Draw& d : draws) {
      EXPECT_EQ(runOnce(bench, oscillator(64, 64, 0, 64, 128, static_cast<uint8_t>(flags))),
                d.value)
          << "flags " << flags;
      EXPECT_EQ(bench.engine->noiseSeed, d.seed);
      EXPECT_EQ(d.value, -d.seed / 2147483648.0);
    }
    // The phase still advances, by the scale the flags pick.
    const double scale = (flags & kLowFrequencyMode) ? kLowScale : increment(60, kPitchScale);
    EXPECT_NE(bench.workspace().asFloat(0), 0.0f);
    EXPECT_NEAR(bench.workspace().asFloat(0), 4 * scale, 1e-6);
  }
  UnitBench scaled;
  EXPECT_EQ(runOnce(scaled, oscillator(64, 64, 0, 64, 96, kWaveNoise)),
            -7.453840225934982e-06 * 0.75);
}

TEST(NoiseSource, SoundingNoiseOscillatorsDrawInUnitOrder) {
  // Track 0: two noise Oscillators into one Output (left = the second).
  // Track 1: silent, draws nothing. Track 2: one noise Oscillator.
  const std::array<uint8_t, 16> held = {60, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const Unit noise = oscillator(64, 64, 0, 64, 128, kWaveNoise);
  SongTables song = SongBuilder()
                        .pattern(1, held)
                        .order(0, 0, 1)
                        .order(2, 0, 1)
                        .program(0, {noise, noise, output(128, 0)})
                        .program(1, {noise, pan(), output(128, 0)})
                        .program(2, {noise, pan(), output(128, 0)})
                        .build();
  SongRun run(std::move(song));
  run.step();
  EXPECT_EQ(run.record(0).mainRight, static_cast<float>(-7.453840225934982e-06));
  EXPECT_EQ(run.record(0).mainLeft, static_cast<float>(-0.11931362049654126));
  EXPECT_EQ(run.record(1).mainLeft, 0.0f);
  EXPECT_EQ(run.record(2).mainLeft, static_cast<float>(0.1468767118640244 / 2));
  EXPECT_EQ(run.engine->noiseSeed, -315415337);
  run.step();
  EXPECT_EQ(run.record(0).mainRight, static_cast<float>(-0.9444731925614178));
}

TEST(Oscillator, SilentVoiceConsumesItsBytesAndHoldsPhaseAndSeed) {
  for (unsigned flags :
       {kWaveSine, kWaveTriangleSaw, kWavePulse, kWaveNoise, kWaveNoise | kLowFrequencyMode}) {
    UnitBench bench;
    bench.record().note = 0;
    bench.workspace().setFloat(0, 0.3f);
    bench.setStack({});
    EXPECT_EQ(bench.run(oscillator(64, 64, 0, 64, 128, static_cast<uint8_t>(flags))), 6u);
    EXPECT_EQ(bench.stackBottomFirst(), std::vector<double>{0.0}) << "flags " << flags;
    EXPECT_EQ(bench.workspace().asFloat(0), 0.3f);
    EXPECT_EQ(bench.engine->noiseSeed, 1);
  }
}

}  // namespace
