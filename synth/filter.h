// Filter (opcode 3) and Distortion (opcode 4): shape the value on top of the
// SignalStack in place. Both leave it untouched on a silent voice.
//
// Filter parameters: frequency (f = frequency^2), resonance (q), type (raw
// bits: 1 low, 2 high, 4 band, 8 low - high). Workspace words (float32):
// 0 low, 1 high, 2 band.
// Distortion parameter: drive, byte 1..127 (64 is neutral).
#pragma once

#include <cmath>

#include "synth/synth.h"
#include "synth/units.h"

namespace synth {

// One step of the state-variable recurrence; each word is stored as float32
// while the next line goes on with the unrounded double.
inline double filterStep(UnitWorkspace& ws, double f, double q, unsigned type, double x) {
  double band = ws.asFloat(2);
  double low = ws.asFloat(0) + f * band;
  ws.setFloat(0, static_cast<float>(low));
  double high = (x - low) - q * band;
  ws.setFloat(1, static_cast<float>(high));
  ws.setFloat(2, static_cast<float>(band + f * high));
  // The output is summed from the words as stored.
  double y = 0;
  if (type & kFilterLow) y += ws.asFloat(0);
  if (type & kFilterHigh) y += ws.asFloat(1);
  if (type & kFilterBand) y += ws.asFloat(2);
  if (type & kFilterPeak) {
    y += ws.asFloat(0);
    y -= ws.asFloat(1);
  }
  return y;
}

// Clamp to [-1, 1] (NaN gives 1), then (u(k+1)) / (|u|k + 1) with
// k = 2d / (1 - d) and d = 2(p - 0.5). Drive p must lie in [1/128, 127/128].
inline double waveshape(double x, double p) {
  double u;
  if (x >= 1 || std::isnan(x)) {
    u = 1;
  } else if (x > -1) {
    u = x;
  } else {
    u = -1;
  }
  double d = 2 * (p - kEngineConstants.half);
  double k = (2 * d) / (1 - d);
  return (u * (k + 1)) / (std::fabs(u) * k + 1);
}

}  // namespace synth
