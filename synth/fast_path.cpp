// The fast path: the same unit kernels as the unit routines, run from
// programs decoded once instead of streams read at every sample.
//
// Every shortcut here gives the bits the reference path gives:
// - parameters are scaled once, exactly as fetchParameters scales them;
// - an Envelope's rates and a Filter's coefficient are pure functions of
//   their bytes, computed once with the same expressions;
// - an Oscillator's increment is recomputed only when its inputs (the note
//   and its transpose-modulation word) change;
// - a silent track rests once one run of its program has left its record
//   and its delay lines bit for bit as they were: with nothing else feeding
//   it, every later run until its next note byte would do the same.
#include <cstring>

#include "synth/delay.h"
#include "synth/envelope.h"
#include "synth/filter.h"
#include "synth/oscillator.h"
#include "synth/routing.h"
#include "synth/synth.h"
#include "synth/units.h"

namespace synth {
namespace {

CompiledUnit compileUnit(unsigned opcode, const uint8_t* bytes) {
  CompiledUnit u{};
  u.step = static_cast<uint8_t>(opcode);
  const UnitType& type = UnitHandlerTable[opcode];
  for (int i = 0; i < type.parameterBytes; ++i) {
    u.slots[i] = static_cast<float>(bytes[i]) * kEngineConstants.parameterScale;
  }
  if (type.parameterBytes > 0) u.raw = bytes[type.parameterBytes - 1];
  ParameterScratch scratch{};
  std::memcpy(scratch.slots, u.slots, sizeof u.slots);
  switch (opcode) {
    case kEnvelope:
      for (int state : {kAttack, kDecay, kRelease}) u.derived[state] = exp2Parameter(scratch, state);
      break;
    case kFilter: {
      double frequency = u.slots[0];
      u.derived[0] = frequency * frequency;
      break;
    }
    case kDelay:
      u.delayIndex = bytes[4];
      u.derived[0] = 1 - static_cast<double>(u.slots[3]);
      break;
    case kStore: u.storeWord = static_cast<uint16_t>(bytes[1] | (bytes[2] << 8)); break;
    case kStackOp: {
      unsigned operation = bytes[0] <= kStackPushNote ? bytes[0] : unsigned{kStackMultiplyPairs};
      u.step = static_cast<uint8_t>(kStepStackOp + operation);
      break;
    }
    default: break;
  }
  return u;
}

void compileSong(Engine& engine) {
  FastPath& fast = engine.fast;
  const SongView& song = engine.song;
  uint32_t cmd = 0;
  uint32_t par = 0;
  int unitCount = 0;
  int lines = 0;
  for (int p = 0; p < kRecordCount; ++p) {
    CompiledProgram& program = fast.programs[p];
    program = CompiledProgram{static_cast<uint16_t>(unitCount), 0, 0, true};
    fast.firstLine[p] = static_cast<uint16_t>(lines);
    for (unsigned opcode; (opcode = song.commandStream[cmd++]) != kEnd;) {
      const uint8_t* bytes = song.parameterStream + par;
      CompiledUnit u = compileUnit(opcode, bytes);
      fast.units[unitCount++] = u;
      fast.increments[unitCount - 1] = IncrementCache{};
      ++program.unitCount;
      par += UnitHandlerTable[opcode].streamBytes();
      if (opcode == kDelay) program.delayLines = static_cast<uint16_t>(program.delayLines + u.raw);
      if (opcode == kAccumulate) program.mayRestSilent = false;
    }
    lines += program.delayLines;
    if (program.delayLines > kMaxQuietLines) program.mayRestSilent = false;
  }
  for (int t = 0; t < kTrackCount; ++t) {
    fast.resting[t] = false;
    fast.awake[t] = static_cast<uint8_t>(t);
  }
  fast.awakeCount = kTrackCount;
  fast.nonzeroOutputs = kAllTracks;
}

// The SignalStack of one program run, with its top value kept apart so that
// it can live in a register: most units work on the top alone, and a value
// passed from one unit to the next then never goes through memory. Below
// the top, value n (n >= 1) is below_[depth - n]; below_[0] is a spare slot
// that catches the top when the stack was empty.
struct CachedStack {
  double top_ = 0;
  double below_[kStackCapacity + 1];
  int depth = 0;

  void push(double v) {
    below_[depth++] = top_;
    top_ = v;
  }
  double pop() {
    double v = top_;
    top_ = below_[--depth];
    return v;
  }
  double& top() { return top_; }
  double& below(int n) { return below_[depth - n]; }
};

inline double oscillatorIncrementCached(IncrementCache& cache, const CompiledUnit& u,
                                        const UnitWorkspace& ws, int32_t note) {
  bool lowFrequency = (u.raw & kLowFrequencyMode) != 0;
  int32_t key = lowFrequency ? 0 : note;
  uint32_t modulation = ws.words[1];
  if (!cache.valid || cache.note != key || cache.transposeModulation != modulation) {
    double s = oscillatorSemitones(u.slots[0], u.slots[1], ws.asFloat(1));
    if (!lowFrequency) s = s + note;
    cache = IncrementCache{key, modulation, true, oscillatorIncrement(s, lowFrequency)};
  }
  return cache.increment;
}

inline void runDelayUnit(Engine& engine, const CompiledUnit& u, double& x) {
  const double pregain = u.slots[0];
  const double dry = u.slots[1];
  const double feedback = u.slots[2];
  const double damp = u.slots[3];
  const double oneMinusDamp = u.derived[0];
  const uint16_t* lengths = engine.song.delayLengthTable + u.delayIndex;
  double acc = x * dry;
  double in = (x * pregain) * pregain;
  DelayLine* line = engine.delayLines + engine.delayCursor;
  DelayLine* const end = line + u.raw;
  for (; line != end; ++line, ++lengths) {
    acc = acc + delayLineStep(*line, *lengths, oneMinusDamp, damp, feedback, in);
  }
  engine.delayCursor += u.raw;
  x = dcBlock(*end, acc);
}

void runCompiledProgram(Engine& engine, int program, InstrumentRecord& record) {
  FastPath& fast = engine.fast;
  const CompiledProgram& prog = fast.programs[program];
  const CompiledUnit* units = fast.units + prog.firstUnit;
  IncrementCache* increments = fast.increments + prog.firstUnit;
  // Programs start and end on an empty stack, so a local one serves.
  CachedStack s;
  const int32_t note = record.note;  // no unit can change it while the program runs
  UnitWorkspace* ws = record.workspaces;
  for (const CompiledUnit* u = units; u != units + prog.unitCount; ++u, ++ws) {
    switch (u->step) {
      case kEnvelope:
        if (note == 0) {
          s.push(0.0);
        } else {
          s.push(envelopeStep(record, *ws, u->slots[2], u->slots[4],
                              [&](int state) { return u->derived[state]; }));
        }
        break;
      case kOscillator:
        if (note == 0) {
          s.push(0.0);
        } else {
          double increment = oscillatorIncrementCached(increments[u - units], *u, *ws, note);
          double v =
              oscillatorWave(*ws, increment, u->slots[2], u->slots[3], u->raw, engine.noiseSeed);
          s.push(v * u->slots[4]);
        }
        break;
      case kFilter:
        if (note != 0) s.top() = filterStep(*ws, u->derived[0], u->slots[1], u->raw, s.top());
        break;
      case kDistortion:
        if (note != 0) s.top() = waveshape(s.top(), u->slots[0]);
        break;
      case kDelay: runDelayUnit(engine, *u, s.top()); break;
      // Each operation calls the kernel with a constant, which folds its switch away.
      case kStepStackOp + kStackMultiplyPairs: applyStackOp(s, kStackMultiplyPairs, note); break;
      case kStepStackOp + kStackPop: applyStackOp(s, kStackPop, note); break;
      case kStepStackOp + kStackAdd: applyStackOp(s, kStackAdd, note); break;
      case kStepStackOp + kStackMultiply: applyStackOp(s, kStackMultiply, note); break;
      case kStepStackOp + kStackDuplicate: applyStackOp(s, kStackDuplicate, note); break;
      case kStepStackOp + kStackExchange: applyStackOp(s, kStackExchange, note); break;
      case kStepStackOp + kStackAddKeep: applyStackOp(s, kStackAddKeep, note); break;
      case kStepStackOp + kStackMultiplyKeep: applyStackOp(s, kStackMultiplyKeep, note); break;
      case kStepStackOp + kStackAddPairs: applyStackOp(s, kStackAddPairs, note); break;
      case kStepStackOp + kStackPushNote: applyStackOp(s, kStackPushNote, note); break;
      case kStore: applyStore(record, s, u->slots[0], u->storeWord); break;
      case kPan: applyPan(s); break;
      case kOutput: applyOutput(record, s, u->slots[0], u->slots[1]); break;
      case kAccumulate:
        // Every track has run when the GlobalInstrument's program runs, so
        // the tracks known to hold zeros can be left out of its sums.
        applyAccumulate(engine.records, s, u->raw,
                        program == kGlobalRecord ? fast.nonzeroOutputs : kAllTracks);
        break;
      default: break;  // NoOp
    }
  }
}

// The state one run of a silent program can touch: its record, and for each
// of its lines the position, the damping state and the slot at the position,
// plus the DC blockers' state in the lines after.
void watchBefore(Engine& engine, int track) {
  QuietWatch& w = engine.fast.watch;
  w.before = engine.records[track];
  const int first = engine.fast.firstLine[track];
  for (int i = 0; i <= engine.fast.programs[track].delayLines; ++i) {
    const DelayLine& line = engine.delayLines[first + i];
    w.position[i] = line.position;
    w.dampState[i] = line.dampState;
    w.sample[i] = line.samples[line.position];
    w.dcIn[i] = line.dcIn;
    w.dcOut[i] = line.dcOut;
  }
}

template <class T>
bool sameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool unchangedSinceWatch(const Engine& engine, int track) {
  const QuietWatch& w = engine.fast.watch;
  if (!sameBits(w.before, engine.records[track])) return false;
  const int first = engine.fast.firstLine[track];
  for (int i = 0; i <= engine.fast.programs[track].delayLines; ++i) {
    const DelayLine& line = engine.delayLines[first + i];
    if (line.position != w.position[i]) return false;
    if (!sameBits(line.dampState, w.dampState[i]) || !sameBits(line.dcIn, w.dcIn[i]) ||
        !sameBits(line.dcOut, w.dcOut[i]) || !sameBits(line.samples[line.position], w.sample[i])) {
      return false;
    }
  }
  return true;
}

constexpr uint16_t kWatchInterval = 127;

// Whether any output word is other than +0 or -0 (a NaN counts as non-zero).
bool hasNonzeroOutput(const InstrumentRecord& r) {
  uint32_t bits = std::bit_cast<uint32_t>(r.auxLeft) | std::bit_cast<uint32_t>(r.auxRight) |
                  std::bit_cast<uint32_t>(r.mainLeft) | std::bit_cast<uint32_t>(r.mainRight);
  return (bits << 1) != 0;
}

}  // namespace

void startEngine(Engine& engine, const SongView& song) {
  engine.song = song;
  engine.noiseSeed = kEngineConstants.noiseSeed;
  compileSong(engine);
}

Frame renderSampleFast(Engine& engine, int tick, int sample) {
  FastPath& fast = engine.fast;
  if (sample == 0) {
    // A note update writes only its own track's note, releaseCount and
    // workspaces, which no other track's program reads, so all tracks can be
    // updated before the first program runs. New rows may change any
    // record: every track runs again at least once.
    fast.awakeCount = 0;
    for (int t = 0; t < kTrackCount; ++t) {
      updateTrackNote(engine, t, tick);
      fast.resting[t] = false;
      fast.awake[fast.awakeCount++] = static_cast<uint8_t>(t);
    }
  }
  int stillAwake = 0;
  for (int i = 0; i < fast.awakeCount; ++i) {
    const int t = fast.awake[i];
    InstrumentRecord& record = engine.records[t];
    // Watching costs a copy of the record; a track still ringing out is
    // looked at again only every so often.
    bool watch = false;
    if (record.note == 0 && fast.programs[t].mayRestSilent) {
      if (sample == 0 || fast.nextWatch[t] == 0) {
        watch = true;
        fast.nextWatch[t] = kWatchInterval;
      } else {
        --fast.nextWatch[t];
      }
    }
    if (watch) watchBefore(engine, t);
    engine.delayCursor = fast.firstLine[t];
    runCompiledProgram(engine, t, record);
    applyVoiceEnd(record);
    if (watch) fast.resting[t] = unchangedSinceWatch(engine, t);
    if (!fast.resting[t]) fast.awake[stillAwake++] = static_cast<uint8_t>(t);
    uint32_t bit = 1u << t;
    if (hasNonzeroOutput(record)) {
      fast.nonzeroOutputs |= bit;
    } else {
      fast.nonzeroOutputs &= ~bit;
    }
  }
  fast.awakeCount = stillAwake;
  InstrumentRecord& global = engine.records[kGlobalRecord];
  global.note = kGlobalNote;
  engine.delayCursor = fast.firstLine[kGlobalRecord];
  runCompiledProgram(engine, kGlobalRecord, global);
  return {clampOutput(global.mainLeft), clampOutput(global.mainRight)};
}

}  // namespace synth
