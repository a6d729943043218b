// The synthesizer engine: a small virtual machine that runs one unit program
// per instrument for every output sample.
//
// All engine state lives in one plain struct, `Engine`. It is all zero before
// the render starts; `startEngine` sets the only non-zero starting value, the
// noise seed. The demo keeps one static instance; tools and tests make fresh
// ones with `makeEngine`, whose zeroed memory the OS maps lazily.
#pragma once

#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace synth {

// ---------------------------------------------------------------------------
// Song clock

inline constexpr int kTickCount = 1024;
inline constexpr int kSamplesPerTick = 2448;
inline constexpr uint32_t kSongFrameCount = kTickCount * kSamplesPerTick;  // 2,506,752
inline constexpr int kSampleRate = 44100;  // playback rate; the engine never uses it
inline constexpr int kTrackCount = 16;
inline constexpr int kRecordCount = 17;  // 16 tracks, then the GlobalInstrument
inline constexpr int kGlobalRecord = 16;
inline constexpr int kGlobalNote = 16;
inline constexpr int kRowsPerPattern = 16;
inline constexpr int kOrderSlots = 64;
inline constexpr int kOrderListBytes = kTrackCount * kOrderSlots;  // 1,024
inline constexpr int kMaxPatterns = 256;

// ---------------------------------------------------------------------------
// InstrumentRecord: 438 32-bit words whose order is part of the song format.

inline constexpr int kWorkspaceWords = 9;
inline constexpr int kWorkspaceCount = 48;  // also the most units a program may have

// Nine words of one unit's state. Each unit decides which words it reads as
// float32 and which as int32; a Store writes any of them as float32.
struct UnitWorkspace {
  uint32_t words[kWorkspaceWords];

  float asFloat(int w) const { return std::bit_cast<float>(words[w]); }
  void setFloat(int w, float v) { words[w] = std::bit_cast<uint32_t>(v); }
  int32_t asInt(int w) const { return static_cast<int32_t>(words[w]); }
  void setInt(int w, int32_t v) { words[w] = static_cast<uint32_t>(v); }
};

struct InstrumentRecord {
  int32_t releaseCount;  // release rows since the last new note
  int32_t note;          // 0 = silent voice
  UnitWorkspace workspaces[kWorkspaceCount];
  float auxLeft;
  float auxRight;
  float mainLeft;
  float mainRight;
};
static_assert(sizeof(InstrumentRecord) == 438 * 4);

// Store addresses a record by word index counted from word 0 of workspace 0:
// 9u + w is word w of workspace u, then the four output words.
inline constexpr int kRecordIndexAuxLeft = 432;
inline constexpr int kRecordIndexAuxRight = 433;
inline constexpr int kRecordIndexMainLeft = 434;
inline constexpr int kRecordIndexMainRight = 435;
inline constexpr int kLastStoreIndex = 435;

inline float readRecordWord(const InstrumentRecord& record, int index) {
  if (index < kRecordIndexAuxLeft) {
    return record.workspaces[index / kWorkspaceWords].asFloat(index % kWorkspaceWords);
  }
  switch (index) {
    case kRecordIndexAuxLeft: return record.auxLeft;
    case kRecordIndexAuxRight: return record.auxRight;
    case kRecordIndexMainLeft: return record.mainLeft;
    default: return record.mainRight;
  }
}

inline void writeRecordWord(InstrumentRecord& record, int index, float value) {
  if (index < kRecordIndexAuxLeft) {
    record.workspaces[index / kWorkspaceWords].setFloat(index % kWorkspaceWords, value);
    return;
  }
  switch (index) {
    case kRecordIndexAuxLeft: record.auxLeft = value; break;
    case kRecordIndexAuxRight: record.auxRight = value; break;
    case kRecordIndexMainLeft: record.mainLeft = value; break;
    default: record.mainRight = value; break;
  }
}

// ---------------------------------------------------------------------------
// Interpreter state

inline constexpr int kStackCapacity = 8;

// Double-precision values passed between units. Top = values[depth - 1].
// A stereo pair has its left value on top.
struct SignalStack {
  double values[kStackCapacity];
  int depth;

  void push(double v) { values[depth++] = v; }
  double pop() { return values[--depth]; }
  double& top() { return values[depth - 1]; }
  double& below(int n) { return values[depth - 1 - n]; }  // below(0) is the top
};

inline constexpr int kScratchSlots = 16;

// Where fetchParameters leaves a unit's parameter bytes, scaled by 1/128.
struct ParameterScratch {
  float slots[kScratchSlots];
};

// ---------------------------------------------------------------------------
// Delay lines

inline constexpr int kDelayLineSamples = 65536;
inline constexpr int kDelayLinePoolSize = 1024;
inline constexpr int kDelayLengthEntries = 31;
inline constexpr int kMaxDelayLinesPerSample = kDelayLinePoolSize - 1;  // the DC blocker needs one more

struct DelayLine {
  int32_t position;  // next slot to read and then overwrite; always below the line's length
  float dampState;   // the damping low-pass's last output
  float dcIn;        // DC blocker of the Delay unit whose last line is just before this one
  float dcOut;
  float samples[kDelayLineSamples];
};

// ---------------------------------------------------------------------------
// A song: five tables, viewed in place.

struct SongView {
  const uint8_t* patternTable;  // patternCount patterns of 16 note bytes
  int patternCount;
  const uint8_t* orderList;        // 16 tracks x 64 pattern numbers
  const uint8_t* commandStream;    // 17 programs of opcodes, each ended by 0
  uint32_t commandLength;
  const uint8_t* parameterStream;  // parameter bytes of every unit, in unit order
  uint32_t parameterLength;
  const uint16_t* delayLengthTable;  // 31 line lengths in samples
};

// ---------------------------------------------------------------------------
// The compiled programs of the fast path: every unit decoded once, with its
// parameters scaled and what cannot change precomputed. Derived from the
// streams at the start of a render; the reference path never reads it.

inline constexpr int kMaxUnits = kRecordCount * kWorkspaceCount;
inline constexpr int kMaxQuietLines = 8;  // larger programs are never skipped

// The fast path's dispatch code for a unit: its opcode, except that a
// StackOp becomes kStepStackOp + its operation (0 for every multiply-pairs
// byte), so that one dispatch decides the whole unit.
inline constexpr uint8_t kStepStackOp = 16;

struct CompiledUnit {
  uint8_t step;
  uint8_t raw;         // last parameter byte: operation, flags, type, selector or count
  uint8_t delayIndex;  // Delay: first DelayLengthTable entry
  uint16_t storeWord;  // Store: index and flags
  float slots[6];      // the scaled parameter bytes, as fetchParameters leaves them
  double derived[4];   // Envelope: rates by state; Filter: f; Delay: 1 - damp
};

// An Oscillator's last increment, reused while its inputs stand still.
struct IncrementCache {
  int32_t note;
  uint32_t transposeModulation;  // float32 bits
  bool valid;
  double increment;
};

struct CompiledProgram {
  uint16_t firstUnit;
  uint16_t unitCount;
  uint16_t delayLines;    // lines its Delay units take per sample
  bool mayRestSilent;     // no Accumulate, few enough lines to watch
};

// A silent track whose program left its record and lines exactly as it found
// them would do so again at every sample until its next note byte: it rests.
struct QuietWatch {
  InstrumentRecord before;
  int32_t position[kMaxQuietLines + 1];
  float dampState[kMaxQuietLines + 1];
  float sample[kMaxQuietLines + 1];
  float dcIn[kMaxQuietLines + 1];
  float dcOut[kMaxQuietLines + 1];
};

struct FastPath {
  CompiledUnit units[kMaxUnits];
  IncrementCache increments[kMaxUnits];
  CompiledProgram programs[kRecordCount];
  uint16_t firstLine[kRecordCount];  // DelayCursor at the start of each program
  bool resting[kTrackCount];
  uint8_t awake[kTrackCount];  // the tracks not resting, in track order
  int awakeCount;
  uint16_t nextWatch[kTrackCount];  // samples to wait before watching a silent track again
  uint32_t nonzeroOutputs;          // a bit per track whose output words are not all zero
  QuietWatch watch;
};

// ---------------------------------------------------------------------------
// The engine

struct Engine {
  InstrumentRecord records[kRecordCount];
  SignalStack stack;
  ParameterScratch scratch;
  uint32_t commandPosition;    // CommandStream read position
  uint32_t parameterPosition;  // ParameterStream read position
  uint32_t delayCursor;        // pool index of the next DelayLine handed out
  int32_t noiseSeed;           // the noise source's state; EngineConstants position 5
  SongView song;
  FastPath fast;                             // derived from the song at the start
  DelayLine delayLines[kDelayLinePoolSize];  // never reset: echoes ring across notes
};

struct EngineDeleter {
  void operator()(Engine* engine) const;
};
using EnginePtr = std::unique_ptr<Engine, EngineDeleter>;

// A fresh, zeroed engine on the heap. The 256 MiB pool is mapped lazily, so
// only the delay lines a song touches cost memory.
EnginePtr makeEngine();

// Attaches the song, compiles its programs for the fast path and sets the
// noise seed to its starting value. Call once on a zeroed engine before the
// first sample. The song must be valid (see validateSong).
void startEngine(Engine& engine, const SongView& song);

// ---------------------------------------------------------------------------
// Rendering

struct Frame {
  float left;
  float right;
};
static_assert(sizeof(Frame) == 8);

// Published progress of a render: frames [0, framesWritten) are final.
// Readers on other threads acquire it and treat later frames as silence.
struct RenderProgress {
  std::atomic<uint32_t> framesWritten;
};

// One sample of the song clock: note updates (at sample 0 of a tick), the 17
// programs, and the output clamp. Returns the frame. The reference path reads
// the streams through fetchParameters at every unit, exactly as the rules
// describe; the fast path runs the compiled programs and gives the same bits.
Frame renderSample(Engine& engine, int tick, int sample);
Frame renderSampleFast(Engine& engine, int tick, int sample);

enum class RenderPath { kFast, kReference };

// What the clamp did to the GlobalInstrument's main pair over a render.
struct RenderStats {
  float peakLeft;  // largest magnitude before the clamp (NaN not counted)
  float peakRight;
  uint32_t clampedLeft;  // samples the clamp changed
  uint32_t clampedRight;
};

// Renders frames [0, frameCount) of the song, frameCount <= kSongFrameCount,
// publishing each frame as it is written.
void renderFrames(Engine& engine, const SongView& song, Frame* out, uint32_t frameCount,
                  RenderProgress* progress = nullptr, RenderStats* stats = nullptr,
                  RenderPath path = RenderPath::kFast);

// The whole song into a buffer of kSongFrameCount frames.
void renderSong(Engine& engine, const SongView& song, Frame* out,
                RenderProgress* progress = nullptr);

// The render loop's clamp to [-1, 1]: NaN and +inf give +1, -inf gives -1.
inline float clampOutput(float v) {
  if (v >= 1.0f || v != v) return 1.0f;
  if (v > -1.0f) return v;
  return -1.0f;
}

// ---------------------------------------------------------------------------
// Interpreter (one sample of one instrument)

void updateTrackNote(Engine& engine, int track, int tick);

// Voice end, after a track's program: the first unit (an Envelope in any
// sensible song) has finished its release when its word 0's low byte is 4.
inline void applyVoiceEnd(InstrumentRecord& record) {
  if ((record.workspaces[0].words[0] & 0xFF) == 4) record.note = 0;
}

void runInstrument(Engine& engine, InstrumentRecord& record);
void runUnitProgram(Engine& engine, InstrumentRecord& record);

// Reads the next count bytes of the ParameterStream into scratch slots
// 0..count-1 as byte/128 and returns the last byte read (0..255).
unsigned fetchParameters(Engine& engine, int count);

// 2^x as 2^f * 2^n with n = x truncated toward zero and f = x - n.
double exp2Value(double x);

// 2^n for a whole number n: built from its bits in the normal range, where
// it is exact, and left to std::exp2 outside it.
inline double exp2Integer(double n) {
  if (n >= -1022 && n <= 1023) {
    return std::bit_cast<double>(static_cast<uint64_t>(static_cast<int64_t>(n) + 1023) << 52);
  }
  return std::exp2(n);
}
// 2^(-24 * slot i): the Envelope's rate for a parameter byte b is 2^(-3b/16).
double exp2Parameter(const ParameterScratch& scratch, int slot);

}  // namespace synth
