// The unit-program interpreter: read an opcode, call its routine with the
// next workspace, repeat until the program's 0 byte.
#include <cmath>
#include <cstdlib>

#include "synth/synth.h"
#include "synth/units.h"

namespace synth {

void runUnitProgram(Engine& engine, InstrumentRecord& record) {
  const uint8_t* commands = engine.song.commandStream;
  for (int k = 0;; ++k) {
    unsigned opcode = commands[engine.commandPosition++];
    if (opcode == kEnd) return;
    UnitHandlerTable[opcode].routine(engine, record, record.workspaces[k]);
  }
}

unsigned fetchParameters(Engine& engine, int count) {
  const uint8_t* bytes = engine.song.parameterStream + engine.parameterPosition;
  for (int i = 0; i < count; ++i) {
    engine.scratch.slots[i] = static_cast<float>(bytes[i]) * kEngineConstants.parameterScale;
  }
  engine.parameterPosition += count;
  return bytes[count - 1];
}

double exp2Value(double x) {
  double n = std::trunc(x);
  double f = x - n;
  return std::exp2(f) * exp2Integer(n);
}

double exp2Parameter(const ParameterScratch& scratch, int slot) {
  double x = -(static_cast<double>(scratch.slots[slot]) * kEngineConstants.exp2Factor);
  return exp2Value(x);
}

void EngineDeleter::operator()(Engine* engine) const { std::free(engine); }

EnginePtr makeEngine() {
  // calloc of this size is served by fresh anonymous pages: zero, and only
  // resident once touched. Engine is an aggregate of plain data, so the
  // zeroed block is a valid Engine.
  void* memory = std::calloc(1, sizeof(Engine));
  if (memory == nullptr) throw std::bad_alloc();
  return EnginePtr(static_cast<Engine*>(memory));
}


}  // namespace synth
