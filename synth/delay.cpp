#include "synth/delay.h"

namespace synth {

void runDelay(Engine& engine, InstrumentRecord&, UnitWorkspace&) {
  unsigned count = fetchParameters(engine, 6);
  unsigned index = engine.song.parameterStream[engine.parameterPosition - 2];
  const float* slot = engine.scratch.slots;
  double pregain = slot[0];
  double dry = slot[1];
  double feedback = slot[2];
  double damp = slot[3];

  double& x = engine.stack.top();
  double acc = x * dry;
  double in = (x * pregain) * pregain;
  double oneMinusDamp = 1 - damp;
  for (unsigned n = 0; n < count; ++n) {
    DelayLine& line = engine.delayLines[engine.delayCursor++];
    unsigned length = engine.song.delayLengthTable[index + n];
    acc = acc + delayLineStep(line, length, oneMinusDamp, damp, feedback, in);
  }
  x = dcBlock(engine.delayLines[engine.delayCursor], acc);
}

}  // namespace synth
