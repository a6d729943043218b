// The routing unit routines: fetch the parameters, then apply the kernel.
#include "synth/routing.h"

namespace synth {

// Parameter: operation byte.
void runStackOp(Engine& engine, InstrumentRecord& record, UnitWorkspace&) {
  unsigned operation = fetchParameters(engine, 1);
  applyStackOp(engine.stack, operation, record.note);
}

// Parameters: amount byte, then a 16-bit word, low byte first.
void runStore(Engine& engine, InstrumentRecord& record, UnitWorkspace&) {
  fetchParameters(engine, 1);
  const uint8_t* word = engine.song.parameterStream + engine.parameterPosition;
  engine.parameterPosition += 2;
  applyStore(record, engine.stack, engine.scratch.slots[0], word[0] | (word[1] << 8));
}

void runPan(Engine& engine, InstrumentRecord&, UnitWorkspace&) { applyPan(engine.stack); }

// Parameters: gain, aux.
void runOutput(Engine& engine, InstrumentRecord& record, UnitWorkspace&) {
  fetchParameters(engine, 2);
  applyOutput(record, engine.stack, engine.scratch.slots[0], engine.scratch.slots[1]);
}

// Parameter: selector, 0 = main pairs, 8 = aux pairs.
void runAccumulate(Engine& engine, InstrumentRecord&, UnitWorkspace&) {
  unsigned selector = fetchParameters(engine, 1);
  applyAccumulate(engine.records, engine.stack, selector);
}

void runNoOp(Engine&, InstrumentRecord&, UnitWorkspace&) {}

}  // namespace synth
