// The unit types: one table that the interpreter dispatches through and that
// the song loader, the tools and the tests read for every count and rule.
#pragma once

#include <cstdint>

#include "synth/synth.h"

namespace synth {

// ---------------------------------------------------------------------------
// EngineConstants: nine 32-bit words used in arithmetic exactly as stored.
// Position 5 is the noise seed's starting value; the running seed lives in
// Engine::noiseSeed.

struct EngineConstants {
  float parameterScale;   // 1: 1/128
  int32_t noiseDivisor;   // 2: -2^31
  float half;             // 3: 0.5
  float dcBlockerDecay;   // 4: 255/256
  int32_t noiseSeed;      // 5: starting value of the noise state
  int32_t exp2Factor;     // 6: 24
  float twelfth;          // 7: 1/12, one float32 step low
  float pitchScale;       // 8: cycles per sample at semitone 0
  float lowFrequencyScale;  // 9: the same in low-frequency mode
};

inline constexpr EngineConstants kEngineConstants = {
    std::bit_cast<float>(0x3C000000u), INT32_MIN,
    std::bit_cast<float>(0x3F000000u), std::bit_cast<float>(0x3F7F0000u),
    1,                                 24,
    std::bit_cast<float>(0x3DAAAAAAu), std::bit_cast<float>(0x38C265DCu),
    std::bit_cast<float>(0x38D62B83u),
};

// ---------------------------------------------------------------------------
// Opcodes

enum Opcode : uint8_t {
  kEnd = 0,
  kEnvelope = 1,
  kOscillator = 2,
  kFilter = 3,
  kDistortion = 4,
  kDelay = 5,
  kStackOp = 6,
  kStore = 7,
  kPan = 8,
  kOutput = 9,
  kAccumulate = 10,
  kNoOp = 11,
};
inline constexpr int kOpcodeCount = 12;

// A unit routine: fetch parameters, test the note if the unit does, then work
// on its own workspace and the SignalStack.
using UnitRoutine = void (*)(Engine& engine, InstrumentRecord& record, UnitWorkspace& workspace);

void runEnvelope(Engine&, InstrumentRecord&, UnitWorkspace&);
void runOscillator(Engine&, InstrumentRecord&, UnitWorkspace&);
void runFilter(Engine&, InstrumentRecord&, UnitWorkspace&);
void runDistortion(Engine&, InstrumentRecord&, UnitWorkspace&);
void runDelay(Engine&, InstrumentRecord&, UnitWorkspace&);
void runStackOp(Engine&, InstrumentRecord&, UnitWorkspace&);
void runStore(Engine&, InstrumentRecord&, UnitWorkspace&);
void runPan(Engine&, InstrumentRecord&, UnitWorkspace&);
void runOutput(Engine&, InstrumentRecord&, UnitWorkspace&);
void runAccumulate(Engine&, InstrumentRecord&, UnitWorkspace&);
void runNoOp(Engine&, InstrumentRecord&, UnitWorkspace&);

struct UnitType {
  const char* name;
  UnitRoutine routine;
  uint8_t parameterBytes;  // fetched through fetchParameters
  uint8_t furtherBytes;    // read straight from the ParameterStream after them
  bool noteTest;           // silent voices skip the unit's work
  uint8_t takes;           // values popped (StackOp and Store refine this)
  uint8_t leaves;          // values pushed
  uint8_t room;            // stack room needed above the depth found
  const char* rawBytes;    // parameter bytes read as unsigned integers
  const char* parameterNames[6];

  constexpr int streamBytes() const { return parameterBytes + furtherBytes; }
};

// Slot 0 ends a program before any lookup and holds no routine.
inline constexpr UnitType UnitHandlerTable[kOpcodeCount] = {
    {"End", nullptr, 0, 0, false, 0, 0, 0, "", {}},
    {"Envelope", runEnvelope, 5, 0, true, 0, 1, 4, "",
     {"attack", "decay", "sustain", "release", "gain"}},
    {"Oscillator", runOscillator, 6, 0, true, 0, 1, 3, "6th: waveform flags",
     {"transpose", "detune", "phase", "colour", "gain", "flags"}},
    {"Filter", runFilter, 3, 0, true, 1, 1, 2, "3rd: type", {"frequency", "resonance", "type"}},
    {"Distortion", runDistortion, 1, 0, true, 1, 1, 3, "", {"drive"}},
    {"Delay", runDelay, 6, 0, false, 1, 1, 3, "5th: index, 6th: count",
     {"pregain", "dry", "feedback", "damp", "index", "count"}},
    {"StackOp", runStackOp, 1, 0, false, 1, 1, 1, "1st: operation", {"operation"}},
    {"Store", runStore, 1, 2, false, 1, 1, 1, "the word: target and flags", {"amount", "word"}},
    {"Pan", runPan, 0, 0, false, 1, 2, 1, "", {}},
    {"Output", runOutput, 2, 0, false, 2, 0, 3, "", {"gain", "aux"}},
    {"Accumulate", runAccumulate, 1, 0, false, 0, 2, 2, "1st: selector", {"selector"}},
    {"NoOp", runNoOp, 0, 0, false, 0, 0, 0, "", {}},
};

// ---------------------------------------------------------------------------
// Parameter encodings shared by the units, the loader and the tools

// StackOp operation bytes. Every byte outside 1..9 multiplies pairs.
enum StackOperation : uint8_t {
  kStackPop = 1,
  kStackAdd = 2,
  kStackMultiply = 3,
  kStackDuplicate = 4,
  kStackExchange = 5,
  kStackAddKeep = 6,
  kStackMultiplyKeep = 7,
  kStackAddPairs = 8,
  kStackPushNote = 9,
  kStackMultiplyPairs = 0,  // and 10..255
};

struct StackEffect {
  int takes;
  int leaves;
};

inline constexpr StackEffect stackOpEffect(unsigned operation) {
  switch (operation) {
    case kStackPop: return {1, 0};
    case kStackAdd:
    case kStackMultiply: return {2, 1};
    case kStackDuplicate: return {1, 2};
    case kStackExchange:
    case kStackAddKeep:
    case kStackMultiplyKeep: return {2, 2};
    case kStackAddPairs: return {4, 2};
    case kStackPushNote: return {0, 1};
    default: return {4, 2};
  }
}

// Store's 16-bit word: bits 0..13 record word index, 14 add, 15 pop.
inline constexpr unsigned kStoreIndexMask = 0x3FFF;
inline constexpr unsigned kStoreAddFlag = 0x4000;
inline constexpr unsigned kStorePopFlag = 0x8000;

// Accumulate selectors.
inline constexpr unsigned kAccumulateMain = 0;
inline constexpr unsigned kAccumulateAux = 8;

// Oscillator flags.
inline constexpr unsigned kWaveSine = 1;
inline constexpr unsigned kWaveTriangleSaw = 2;
inline constexpr unsigned kWavePulse = 4;
inline constexpr unsigned kWaveNoise = 8;
inline constexpr unsigned kWaveformBits = 15;
inline constexpr unsigned kLowFrequencyMode = 16;

// Filter type bits.
inline constexpr unsigned kFilterLow = 1;
inline constexpr unsigned kFilterHigh = 2;
inline constexpr unsigned kFilterBand = 4;
inline constexpr unsigned kFilterPeak = 8;

// The stack effect of one unit given its stream bytes.
inline constexpr StackEffect unitStackEffect(unsigned opcode, const uint8_t* bytes) {
  if (opcode == kStackOp) return stackOpEffect(bytes[0]);
  if (opcode == kStore) {
    unsigned word = bytes[1] | (bytes[2] << 8);
    return {1, (word & kStorePopFlag) ? 0 : 1};
  }
  return {UnitHandlerTable[opcode].takes, UnitHandlerTable[opcode].leaves};
}

}  // namespace synth
