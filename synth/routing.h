// Routing and stack units: StackOp, Store, Pan, Output, Accumulate, NoOp.
// None tests the note; none uses its own workspace words. The kernels here
// are shared by the unit routines and the compiled fast path; they work on
// any stack with push, pop, top and below (the SignalStack, or the fast
// path's copy of it that keeps the top value in a register).
#pragma once

#include <bit>

#include "synth/synth.h"
#include "synth/units.h"

namespace synth {

// StackOp. Operation byte (raw); the stack is shown top first.
template <class Stack>
inline void applyStackOp(Stack& s, unsigned operation, int32_t note) {
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
      s.push(static_cast<double>(note) * kEngineConstants.parameterScale);
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

// Store. Writes 2 * (amount - 0.5) * top into record word (word & 3FFF),
// added to its float32 value with the add flag; pops with the pop flag.
template <class Stack>
inline void applyStore(InstrumentRecord& record, Stack& s, double amount, unsigned word) {
  double v = 2 * (amount - kEngineConstants.half) * s.top();
  int index = static_cast<int>(word & kStoreIndexMask);
  if (word & kStoreAddFlag) {
    writeRecordWord(record, index, static_cast<float>(readRecordWord(record, index) + v));
  } else {
    writeRecordWord(record, index, static_cast<float>(v));
  }
  if (word & kStorePopFlag) s.pop();
}

// Pan. x -> x/2, x/2 (a centred stereo pair).
template <class Stack>
inline void applyPan(Stack& s) {
  s.top() = s.top() * kEngineConstants.half;
  s.push(s.top());
}

// Output. Consumes the pair L (top), R into aux then main words.
template <class Stack>
inline void applyOutput(InstrumentRecord& record, Stack& s, double gain, double aux) {
  double left = s.pop();
  double right = s.pop();
  record.auxLeft = static_cast<float>(left * aux);
  record.auxRight = static_cast<float>(right * aux);
  record.mainLeft = static_cast<float>(left * gain);
  record.mainRight = static_cast<float>(right * gain);
}

inline constexpr uint32_t kAllTracks = (1u << kTrackCount) - 1;

// Accumulate. Selector 0 sums the tracks' main pairs, 8 their aux pairs, in
// track order as they stand right now; pushes right, then left on top.
//
// The sums start at +0, and a rounded sum is -0 only when both terms are -0,
// so no partial sum is ever -0 and adding a zero word changes nothing. That
// is why zero words are skipped, and why a caller that knows which tracks
// hold only zeros may leave them out of `tracksToSum` (a bit per track).
template <class Stack>
inline void applyAccumulate(const InstrumentRecord* tracks, Stack& s, unsigned selector,
                            uint32_t tracksToSum = kAllTracks) {
  double left = 0;
  double right = 0;
  for (uint32_t mask = tracksToSum; mask != 0; mask &= mask - 1) {
    int t = std::countr_zero(mask);
    float l = selector == kAccumulateAux ? tracks[t].auxLeft : tracks[t].mainLeft;
    float r = selector == kAccumulateAux ? tracks[t].auxRight : tracks[t].mainRight;
    if (l != 0) left += l;
    if (r != 0) right += r;
  }
  s.push(right);
  s.push(left);
}

}  // namespace synth
