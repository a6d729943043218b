#include "synth/oscillator.h"

namespace synth {

void runOscillator(Engine& engine, InstrumentRecord& record, UnitWorkspace& ws) {
  unsigned flags = fetchParameters(engine, 6);
  if (record.note == 0) {
    // A silent voice holds its phase and draws no noise.
    engine.stack.push(0.0);
    return;
  }
  const float* slot = engine.scratch.slots;
  bool lowFrequency = (flags & kLowFrequencyMode) != 0;
  double s = oscillatorSemitones(slot[0], slot[1], ws.asFloat(1));
  if (!lowFrequency) s = s + record.note;
  double increment = oscillatorIncrement(s, lowFrequency);
  double v = oscillatorWave(ws, increment, slot[2], slot[3], flags, engine.noiseSeed);
  engine.stack.push(v * slot[4]);
}

}  // namespace synth
