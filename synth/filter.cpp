#include "synth/filter.h"

namespace synth {

void runFilter(Engine& engine, InstrumentRecord& record, UnitWorkspace& ws) {
  unsigned type = fetchParameters(engine, 3);
  if (record.note == 0) return;
  double frequency = engine.scratch.slots[0];
  double q = engine.scratch.slots[1];
  double& x = engine.stack.top();
  x = filterStep(ws, frequency * frequency, q, type, x);
}

void runDistortion(Engine& engine, InstrumentRecord& record, UnitWorkspace&) {
  fetchParameters(engine, 1);
  if (record.note == 0) return;
  double& x = engine.stack.top();
  x = waveshape(x, engine.scratch.slots[0]);
}

}  // namespace synth
