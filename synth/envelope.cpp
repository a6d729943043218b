#include "synth/envelope.h"

#include "synth/units.h"

namespace synth {

void runEnvelope(Engine& engine, InstrumentRecord& record, UnitWorkspace& ws) {
  fetchParameters(engine, 5);
  if (record.note == 0) {
    engine.stack.push(0.0);
    return;
  }
  const ParameterScratch& p = engine.scratch;
  // Each moving state takes its rate from the slot numbered like the state.
  auto stepFor = [&](int state) { return exp2Parameter(p, state); };
  engine.stack.push(envelopeStep(record, ws, p.slots[2], p.slots[4], stepFor));
}

}  // namespace synth
