// Delay (opcode 5): a bank of feedback comb lines with one-pole damping, a
// dry path and a DC blocker. No note test: it runs at every sample.
//
// Parameters: pregain (applied twice), dry, feedback, damp (slots 0..3),
// then index and count (raw): lines use DelayLengthTable entries
// index..index+count-1. Lines come from the pool in the order the Delay
// units run; the DC blocker's state sits in the DelayLine after the last line.
#pragma once

#include "synth/synth.h"
#include "synth/units.h"

namespace synth {

// One step of one line; returns the value read (L samples old).
inline double delayLineStep(DelayLine& line, unsigned length, double oneMinusDamp, double damp,
                            double feedback, double in) {
  double s = line.samples[line.position];
  double y = s * oneMinusDamp + damp * line.dampState;
  line.dampState = static_cast<float>(y);
  line.samples[line.position] = static_cast<float>(y * feedback + in);
  int32_t next = line.position + 1;
  line.position = static_cast<uint32_t>(next) < length ? next : 0;
  return s;
}

// out = (255/256 * previous out - previous acc) + acc, from the stored values.
// The decay is a double product: in float32 it would round away low bits.
inline double dcBlock(DelayLine& holder, double acc) {
  const double decay = kEngineConstants.dcBlockerDecay;
  double out = (decay * holder.dcOut - holder.dcIn) + acc;
  holder.dcIn = static_cast<float>(acc);
  holder.dcOut = static_cast<float>(out);
  return out;
}

}  // namespace synth
