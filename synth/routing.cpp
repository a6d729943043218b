// Routing and stack units: StackOp, Store, Pan, Output, Accumulate, NoOp.
// None tests the note; none uses its own workspace words.
#include "synth/synth.h"
#include "synth/units.h"

namespace synth {

// Parameter: operation byte (raw). Stack shown top first.
void runStackOp(Engine& engine, InstrumentRecord& record, UnitWorkspace&) {
  unsigned operation = fetchParameters(engine, 1);
  SignalStack& s = engine.stack;
  switch (operation) {
    case kStackPop:  // x1 -> (removed)
      s.pop();
      break;
    case kStackAdd: {  // x1, x2 -> x2 + x1
      double x1 = s.pop();
      s.top() = s.top() + x1;
      break;
    }
    case kStackMultiply: {  // x1, x2 -> x2 * x1
      double x1 = s.pop();
      s.top() = s.top() * x1;
      break;
    }
    case kStackDuplicate:  // x1 -> x1, x1
      s.push(s.top());
      break;
    case kStackExchange: {  // x1, x2 -> x2, x1
      double x1 = s.top();
      s.top() = s.below(1);
      s.below(1) = x1;
      break;
    }
    case kStackAddKeep:  // x1, x2 -> x1 + x2, x2
      s.top() = s.top() + s.below(1);
      break;
    case kStackMultiplyKeep:  // x1, x2 -> x1 * x2, x2
      s.top() = s.top() * s.below(1);
      break;
    case kStackAddPairs: {  // x1, x2, x3, x4 -> x3 + x1, x4 + x2
      double x1 = s.pop();
      double x2 = s.pop();
      s.top() = s.top() + x1;
      s.below(1) = s.below(1) + x2;
      break;
    }
    case kStackPushNote:  // -> note / 128
      s.push(static_cast<double>(record.note) * kEngineConstants.parameterScale);
      break;
    default: {  // x1, x2, x3, x4 -> x3 * x1, x4 * x2
      double x1 = s.pop();
      double x2 = s.pop();
      s.top() = s.top() * x1;
      s.below(1) = s.below(1) * x2;
      break;
    }
  }
}

// Parameters: amount byte, then a 16-bit word (low byte first): record word
// index (0..435) plus the add and pop flags. Writes 2 * (amount - 0.5) * top.
void runStore(Engine& engine, InstrumentRecord& record, UnitWorkspace&) {
  fetchParameters(engine, 1);
  const uint8_t* word = engine.song.parameterStream + engine.parameterPosition;
  unsigned w = word[0] | (word[1] << 8);
  engine.parameterPosition += 2;

  double x = engine.stack.top();
  double amount = engine.scratch.slots[0];
  double v = 2 * (amount - kEngineConstants.half) * x;
  int index = static_cast<int>(w & kStoreIndexMask);
  if (w & kStoreAddFlag) {
    writeRecordWord(record, index, static_cast<float>(readRecordWord(record, index) + v));
  } else {
    writeRecordWord(record, index, static_cast<float>(v));
  }
  if (w & kStorePopFlag) engine.stack.pop();
}

// x -> x/2, x/2 (a centred stereo pair).
void runPan(Engine& engine, InstrumentRecord&, UnitWorkspace&) {
  SignalStack& s = engine.stack;
  s.top() = s.top() * kEngineConstants.half;
  s.push(s.top());
}

// Parameters: gain, aux. Consumes the pair L (top), R into the output words.
void runOutput(Engine& engine, InstrumentRecord& record, UnitWorkspace&) {
  fetchParameters(engine, 2);
  double gain = engine.scratch.slots[0];
  double aux = engine.scratch.slots[1];
  SignalStack& s = engine.stack;
  double left = s.pop();
  double right = s.pop();
  record.auxLeft = static_cast<float>(left * aux);
  record.auxRight = static_cast<float>(right * aux);
  record.mainLeft = static_cast<float>(left * gain);
  record.mainRight = static_cast<float>(right * gain);
}

// Parameter: selector (raw) 0 = main pairs, 8 = aux pairs. Pushes the sums of
// the sixteen tracks' pairs, left on top, as they stand right now.
void runAccumulate(Engine& engine, InstrumentRecord&, UnitWorkspace&) {
  unsigned selector = fetchParameters(engine, 1);
  double left = 0;
  double right = 0;
  for (int t = 0; t < kTrackCount; ++t) {
    const InstrumentRecord& track = engine.records[t];
    if (selector == kAccumulateAux) {
      left += track.auxLeft;
      right += track.auxRight;
    } else {
      left += track.mainLeft;
      right += track.mainRight;
    }
  }
  engine.stack.push(right);
  engine.stack.push(left);
}

void runNoOp(Engine&, InstrumentRecord&, UnitWorkspace&) {}

}  // namespace synth
