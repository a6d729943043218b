// Envelope (opcode 1): attack to 1, decay to sustain, hold, release to 0.
//
// Parameters (slots 0..4): attack, decay, sustain, release, gain. A rate byte
// b moves the level by 2^(-3b/16) per sample. Workspace words: 0 state
// (int32: 0 attack, 1 decay, 2 sustain, 3 release, 4 finished), 1 level
// (float32), 2 gain modulation (float32, written by Stores).
#pragma once

#include "synth/synth.h"

namespace synth {

enum EnvelopeState : int32_t {
  kAttack = 0,
  kDecay = 1,
  kSustain = 2,
  kRelease = 3,
  kFinished = 4,
};

// One run on a sounding voice; returns the value to push. stepFor(state)
// gives the rate of state 0, 1 or 3 in double precision.
template <class StepFor>
inline double envelopeStep(const InstrumentRecord& record, UnitWorkspace& ws, double sustain,
                           double gain, StepFor stepFor) {
  if (record.releaseCount != 0) ws.setInt(0, kRelease);
  double level = ws.asFloat(1);
  switch (ws.asInt(0)) {
    case kAttack:
      level += stepFor(kAttack);
      if (level >= 1) {
        level = 1;
        ws.setInt(0, kDecay);
      }
      break;
    case kDecay:
      level -= stepFor(kDecay);
      if (level <= sustain) {
        level = sustain;
        ws.setInt(0, kSustain);
      }
      break;
    case kRelease:
      level -= stepFor(kRelease);
      if (level <= 0) {
        level = 0;
        ws.setInt(0, kFinished);
      }
      break;
    default:  // sustain holds the stored level; nothing steps
      return level * (gain + ws.asFloat(2));
  }
  ws.setFloat(1, static_cast<float>(level));
  // The stepping states push the unrounded level.
  return level * (gain + ws.asFloat(2));
}

}  // namespace synth
