// Oscillator (opcode 2) and the noise source.
//
// Parameters: transpose, detune, phase offset, colour, gain (slots 0..4) and
// the flags byte (raw): one waveform bit (1 sine, 2 triangle-saw, 4 pulse,
// 8 noise) and 16 for low-frequency mode; 32, 64 and 128 are ignored.
// Workspace words (float32): 0 phase, 1 transpose modulation, 4 phase
// modulation, 5 colour modulation.
#pragma once

#include <cmath>

#include "synth/synth.h"
#include "synth/units.h"

namespace synth {

// x minus x truncated toward zero: keeps the sign of x.
inline double remainderOfOne(double x) { return x - std::trunc(x); }

// Pitch in semitones, before the note is added.
inline double oscillatorSemitones(double transpose, double detune, double transposeModulation) {
  const double half = kEngineConstants.half;
  return ((transpose - half) + transposeModulation) / kEngineConstants.parameterScale +
         (detune - half) * 2;
}

// Cycles per sample for a pitch in semitones.
inline double oscillatorIncrement(double semitones, bool lowFrequency) {
  double scale = lowFrequency ? kEngineConstants.lowFrequencyScale : kEngineConstants.pitchScale;
  return exp2Value(semitones * kEngineConstants.twelfth) * scale;
}

// The noise source: seed *= 16007 with 32-bit wrap-around; value = seed / -2^31.
inline double drawNoise(int32_t& seed) {
  seed = static_cast<int32_t>(static_cast<uint32_t>(seed) * 16007u);
  return static_cast<double>(seed) / static_cast<double>(kEngineConstants.noiseDivisor);
}

inline constexpr double kTwoPi = 6.283185307179586;

// Waveform value at shaping phase q with colour w (q <= w is the first part).
inline double shapeSine(double q, double w) { return q <= w ? std::sin((q / w) * kTwoPi) : 0.0; }
inline double shapeTriangleSaw(double q, double w) {
  return q <= w ? (q / w) * 2 - 1 : ((1 - q) / (1 - w)) * 2 - 1;
}
inline double shapePulse(double q, double w) { return q <= w ? 1.0 : -1.0; }

// Advances the phase by inc, then shapes it. Returns the unscaled waveform value.
inline double oscillatorWave(UnitWorkspace& ws, double increment, double phaseOffset,
                             double colour, unsigned flags, int32_t& noiseSeed) {
  double p = remainderOfOne((increment + ws.asFloat(0)) + 1);
  ws.setFloat(0, static_cast<float>(p));
  double q = remainderOfOne(((p + ws.asFloat(4)) + phaseOffset) + 1);
  double w = colour + ws.asFloat(5);
  if (flags & kWaveSine) return shapeSine(q, w);
  if (flags & kWaveTriangleSaw) return shapeTriangleSaw(q, w);
  if (flags & kWavePulse) return shapePulse(q, w);
  if (flags & kWaveNoise) return drawNoise(noiseSeed);
  return 0.0;  // no waveform bit: the loader refuses such songs
}

}  // namespace synth
