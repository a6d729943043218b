// The shipped song. Each instrument is written as a list of units, one line
// per unit with its kind and its named parameter bytes; the CommandStream and
// the ParameterStream are derived from those lists at compile time, so the
// byte streams and their readable form cannot drift apart.
//
// The song: 1,024 ticks (64 slots of 16 rows), about 56.84 s.
//   track 0   melodic voice, heard only through the global reverb (aux send)
//   track 1   falling-pitch drum: enters with a pickup at slot 15, grooves
//             through slots 16-47, then breaks down to half time in 48-63
//   track 2   noise and swept sine: slots 24-31 and 40-47, with a held
//             gap (slots 32-39) in which its last hit dies away
//   track 3   short high-passed noise: slots 32-47 and 56-62
//   track 4   one long noise swell at slot 48, under the breakdown
//   track 5+  a sine voice with a delay line that never receives a note
//   global    reverb on the summed aux sends, plus the summed main outputs
#include "song/shipped_song.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "synth/units.h"

namespace song {
namespace {

using synth::UnitHandlerTable;

// ---------------------------------------------------------------------------
// Units

constexpr int streamBytes(uint8_t opcode) {
  return UnitHandlerTable[opcode].parameterBytes + UnitHandlerTable[opcode].furtherBytes;
}

// The largest parameter block any unit type reads.
constexpr int kMaxUnitBytes = [] {
  int most = 0;
  for (int op = 0; op < synth::kOpcodeCount; ++op) most = std::max(most, streamBytes(op));
  return most;
}();

// One unit of a program: its opcode and its own ParameterStream bytes.
struct Unit {
  uint8_t opcode;
  uint8_t byteCount;
  std::array<uint8_t, kMaxUnitBytes> bytes;
};

// Every unit must carry exactly the bytes its type consumes, or every later
// unit of the sample would read the wrong parameters.
constexpr Unit unit(synth::Opcode opcode, std::initializer_list<uint8_t> bytes) {
  if (static_cast<int>(bytes.size()) != streamBytes(opcode)) {
    throw "a unit must carry exactly the parameter bytes of its type";
  }
  Unit u{opcode, static_cast<uint8_t>(bytes.size()), {}};
  std::copy(bytes.begin(), bytes.end(), u.bytes.begin());
  return u;
}

struct EnvelopeParameters {
  uint8_t attack, decay, sustain, release, gain;
};
constexpr Unit envelope(EnvelopeParameters p) {
  return unit(synth::kEnvelope, {p.attack, p.decay, p.sustain, p.release, p.gain});
}

struct OscillatorParameters {
  uint8_t transpose, detune, phase, colour, gain, flags;
};
constexpr Unit oscillator(OscillatorParameters p) {
  return unit(synth::kOscillator, {p.transpose, p.detune, p.phase, p.colour, p.gain, p.flags});
}

struct FilterParameters {
  uint8_t frequency, resonance, type;
};
constexpr Unit filter(FilterParameters p) {
  return unit(synth::kFilter, {p.frequency, p.resonance, p.type});
}

struct DistortionParameters {
  uint8_t drive;
};
constexpr Unit distortion(DistortionParameters p) {
  return unit(synth::kDistortion, {p.drive});
}

struct DelayParameters {
  uint8_t pregain, dry, feedback, damp, index, count;
};
constexpr Unit delay(DelayParameters p) {
  return unit(synth::kDelay, {p.pregain, p.dry, p.feedback, p.damp, p.index, p.count});
}

constexpr Unit stackOp(synth::StackOperation operation) {
  return unit(synth::kStackOp, {operation});
}

// The modulation inputs that Stores aim at: words of another unit's workspace
// that the unit only reads.
constexpr int kEnvelopeGainModulation = 2;
constexpr int kOscillatorTransposeModulation = 1;
constexpr int kOscillatorPhaseModulation = 4;
constexpr int kOscillatorColourModulation = 5;

// A Store aimed at word `word` of the workspace of unit `unit` of its own
// program. Every Store of this song overwrites its target (no add flag) and
// leaves its input on the stack (no pop flag), so the next unit, or the next
// Store, reads the same value.
struct StoreParameters {
  uint8_t amount;
  int unit;
  int word;
};
constexpr Unit store(StoreParameters p) {
  const int index = p.unit * synth::kWorkspaceWords + p.word;
  if (p.unit < 0 || p.unit >= synth::kWorkspaceCount || index > synth::kLastStoreIndex) {
    throw "a Store must aim inside its own record";
  }
  const auto word = static_cast<unsigned>(index);
  return unit(synth::kStore,
              {p.amount, static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>(word >> 8)});
}

constexpr Unit pan() {
  return unit(synth::kPan, {});
}

struct OutputParameters {
  uint8_t gain, aux;
};
constexpr Unit output(OutputParameters p) {
  return unit(synth::kOutput, {p.gain, p.aux});
}

constexpr Unit accumulate(unsigned selector) {
  return unit(synth::kAccumulate, {static_cast<uint8_t>(selector)});
}

using synth::kAccumulateAux;
using synth::kAccumulateMain;
using synth::kFilterHigh;
using synth::kFilterLow;
using synth::kStackAdd;
using synth::kStackAddPairs;
using synth::kStackExchange;
using synth::kStackMultiply;
using synth::kStackPop;

// Oscillator waveforms (flags byte).
constexpr uint8_t kSine = synth::kWaveSine;
constexpr uint8_t kTriangleSaw = synth::kWaveTriangleSaw;
constexpr uint8_t kNoise = synth::kWaveNoise;

// ---------------------------------------------------------------------------
// Programs, in record order. The comment at each unit is its index, which is
// also its workspace number: the number the Stores' targets refer to.

// DelayLengthTable entries 17 onward are the track-level lines, one per
// track-level Delay in program order: track 0 takes 17 and 18, track 4 19,
// tracks 5 to 15 take 20 to 30.
constexpr uint8_t kTrack0LeftLine = 17;
constexpr uint8_t kTrack0RightLine = 18;
constexpr uint8_t kTrack4Line = 19;
constexpr int kUnplayedTrackLineOffset = 15;  // track t's line is entry t + 15

// clang-format off

// Track 0, melodic. Unit 1 runs at the note's pitch only as a modulator: its
// value bends the phase of the first of three triangle-saws and the colour of
// the other two (amount 40 inverts it), and is then popped. The three
// oscillators, detuned by 0, +1/4 and -1/4 semitone, are summed, low-passed
// twice, shaped by the envelope, and each channel passes its own delay line.
// Main gain 0: the voice reaches the mix only through the reverb send.
constexpr Unit kMelodic[] = {
    envelope({.attack = 58, .decay = 32, .sustain = 112, .release = 64, .gain = 128}),                           //  0
    oscillator({.transpose = 64, .detune = 64, .phase = 0, .colour = 128, .gain = 117, .flags = kTriangleSaw}),  //  1
    store({.amount = 112, .unit = 6, .word = kOscillatorPhaseModulation}),                                       //  2
    store({.amount = 112, .unit = 7, .word = kOscillatorColourModulation}),                                      //  3
    store({.amount = 40, .unit = 8, .word = kOscillatorColourModulation}),                                       //  4
    stackOp(kStackPop),                                                                                          //  5
    oscillator({.transpose = 64, .detune = 64, .phase = 0, .colour = 64, .gain = 128, .flags = kTriangleSaw}),   //  6
    oscillator({.transpose = 64, .detune = 80, .phase = 80, .colour = 80, .gain = 128, .flags = kTriangleSaw}),  //  7
    oscillator({.transpose = 64, .detune = 48, .phase = 48, .colour = 48, .gain = 128, .flags = kTriangleSaw}),  //  8
    stackOp(kStackAdd),                                                                                          //  9
    stackOp(kStackAdd),                                                                                          // 10
    filter({.frequency = 48, .resonance = 88, .type = kFilterLow}),                                              // 11
    filter({.frequency = 48, .resonance = 88, .type = kFilterLow}),                                              // 12
    stackOp(kStackMultiply),                                                                                     // 13
    pan(),                                                                                                       // 14
    delay({.pregain = 64, .dry = 128, .feedback = 64, .damp = 64, .index = kTrack0LeftLine, .count = 1}),        // 15
    stackOp(kStackExchange),                                                                                     // 16
    delay({.pregain = 64, .dry = 128, .feedback = 64, .damp = 64, .index = kTrack0RightLine, .count = 1}),       // 17
    stackOp(kStackExchange),                                                                                     // 18
    output({.gain = 0, .aux = 96}),                                                                              // 19
};

// Track 1, falling-pitch drum. The first envelope feeds its own value back
// into its gain (from the next sample on), which steepens its fall. The
// second envelope, bent by the distortion, drives the oscillator's transpose
// by up to 32 semitones: each hit starts 14 semitones above the note and
// drops towards 18 below it.
constexpr Unit kFallingDrum[] = {
    envelope({.attack = 0, .decay = 64, .sustain = 96, .release = 64, .gain = 128}),                            //  0
    store({.amount = 128, .unit = 0, .word = kEnvelopeGainModulation}),                                         //  1
    envelope({.attack = 0, .decay = 70, .sustain = 0, .release = 0, .gain = 128}),                              //  2
    distortion({.drive = 32}),                                                                                  //  3
    store({.amount = 80, .unit = 6, .word = kOscillatorTransposeModulation}),                                   //  4
    stackOp(kStackPop),                                                                                         //  5
    oscillator({.transpose = 46, .detune = 64, .phase = 0, .colour = 64, .gain = 128, .flags = kTriangleSaw}),  //  6
    stackOp(kStackMultiply),                                                                                    //  7
    pan(),                                                                                                      //  8
    output({.gain = 128, .aux = 0}),                                                                            //  9
};

// Track 2, noise plus a pitch-swept sine: the same self-steepening envelope
// and swept transpose as track 1, here sweeping the sine from 24 semitones
// above the note down to it, added to noise.
constexpr Unit kNoiseSweep[] = {
    envelope({.attack = 0, .decay = 75, .sustain = 0, .release = 0, .gain = 32}),                          //  0
    store({.amount = 128, .unit = 0, .word = kEnvelopeGainModulation}),                                    //  1
    envelope({.attack = 0, .decay = 70, .sustain = 0, .release = 0, .gain = 128}),                         //  2
    distortion({.drive = 8}),                                                                              //  3
    store({.amount = 76, .unit = 7, .word = kOscillatorTransposeModulation}),                              //  4
    stackOp(kStackPop),                                                                                    //  5
    oscillator({.transpose = 64, .detune = 64, .phase = 64, .colour = 64, .gain = 128, .flags = kNoise}),  //  6
    oscillator({.transpose = 64, .detune = 64, .phase = 64, .colour = 128, .gain = 128, .flags = kSine}),  //  7
    stackOp(kStackAdd),                                                                                    //  8
    stackOp(kStackMultiply),                                                                               //  9
    pan(),                                                                                                 // 10
    output({.gain = 32, .aux = 0}),                                                                        // 11
};

// Track 3, short noise bursts through a high-pass; the only drum with a
// reverb send.
constexpr Unit kHighPassNoise[] = {
    envelope({.attack = 0, .decay = 60, .sustain = 0, .release = 0, .gain = 128}),                         //  0
    oscillator({.transpose = 64, .detune = 64, .phase = 64, .colour = 64, .gain = 128, .flags = kNoise}),  //  1
    stackOp(kStackMultiply),                                                                               //  2
    filter({.frequency = 128, .resonance = 128, .type = kFilterHigh}),                                     //  3
    pan(),                                                                                                 //  4
    output({.gain = 128, .aux = 70}),                                                                      //  5
};

// Track 4, one long noise note: instant attack to a low sustain, then a
// release of several seconds, low-passed and echoed.
constexpr Unit kLongNoise[] = {
    envelope({.attack = 0, .decay = 0, .sustain = 30, .release = 108, .gain = 128}),                      //  0
    oscillator({.transpose = 64, .detune = 64, .phase = 0, .colour = 64, .gain = 128, .flags = kNoise}),  //  1
    stackOp(kStackMultiply),                                                                              //  2
    filter({.frequency = 66, .resonance = 64, .type = kFilterLow}),                                       //  3
    delay({.pregain = 64, .dry = 128, .feedback = 64, .damp = 64, .index = kTrack4Line, .count = 1}),     //  4
    pan(),                                                                                                //  5
    output({.gain = 128, .aux = 0}),                                                                      //  6
};

// Tracks 5 to 15 share one sine voice with one delay line. They never receive
// a note, but their programs still run and their delay lines still take
// their places in the pool.
constexpr std::array<Unit, 6> unplayedVoice(int track) {
  const auto line = static_cast<uint8_t>(track + kUnplayedTrackLineOffset);
  return {
      envelope({.attack = 64, .decay = 64, .sustain = 64, .release = 64, .gain = 128}),                    //  0
      oscillator({.transpose = 64, .detune = 64, .phase = 0, .colour = 64, .gain = 128, .flags = kSine}),  //  1
      stackOp(kStackMultiply),                                                                             //  2
      delay({.pregain = 64, .dry = 128, .feedback = 64, .damp = 64, .index = line, .count = 1}),           //  3
      pan(),                                                                                               //  4
      output({.gain = 64, .aux = 0}),                                                                      //  5
  };
}

// The GlobalInstrument: the summed aux sends go through the reverb, one bank
// of eight lines per channel (left on top, so the first bank is the left
// one; the exchanges bring each channel up in turn), then the summed main
// outputs are added pair-wise and half the mix is the frame.
constexpr Unit kGlobal[] = {
    accumulate(kAccumulateAux),                                                               //  0
    delay({.pregain = 40, .dry = 128, .feedback = 125, .damp = 64, .index = 1, .count = 8}),  //  1
    stackOp(kStackExchange),                                                                  //  2
    delay({.pregain = 40, .dry = 128, .feedback = 125, .damp = 64, .index = 9, .count = 8}),  //  3
    stackOp(kStackExchange),                                                                  //  4
    accumulate(kAccumulateMain),                                                              //  5
    stackOp(kStackAddPairs),                                                                  //  6
    output({.gain = 64, .aux = 0}),                                                           //  7
};

// clang-format on

constexpr int kFirstUnplayedTrack = 5;
constexpr int kUnplayedTrackCount = synth::kTrackCount - kFirstUnplayedTrack;

constexpr auto kUnplayedVoices = [] {
  std::array<std::array<Unit, 6>, kUnplayedTrackCount> voices{};
  for (int i = 0; i < kUnplayedTrackCount; ++i) voices[i] = unplayedVoice(kFirstUnplayedTrack + i);
  return voices;
}();

constexpr std::array<std::span<const Unit>, synth::kRecordCount> kPrograms = {
    kMelodic,
    kFallingDrum,
    kNoiseSweep,
    kHighPassNoise,
    kLongNoise,
    kUnplayedVoices[0],
    kUnplayedVoices[1],
    kUnplayedVoices[2],
    kUnplayedVoices[3],
    kUnplayedVoices[4],
    kUnplayedVoices[5],
    kUnplayedVoices[6],
    kUnplayedVoices[7],
    kUnplayedVoices[8],
    kUnplayedVoices[9],
    kUnplayedVoices[10],
    kGlobal,
};

// Each program must find the stack as deep as the previous one left it
// (empty), give every unit the values it takes and the room it works in, and
// leave it empty again.
constexpr bool keepsStackBalanced(std::span<const Unit> program) {
  int depth = 0;
  for (const Unit& u : program) {
    const synth::StackEffect effect = synth::unitStackEffect(u.opcode, u.bytes.data());
    if (depth < effect.takes) return false;
    if (depth + UnitHandlerTable[u.opcode].room > synth::kStackCapacity) return false;
    depth += effect.leaves - effect.takes;
  }
  return depth == 0;
}
static_assert(std::all_of(kPrograms.begin(), kPrograms.end(), keepsStackBalanced));

// ---------------------------------------------------------------------------
// The two streams

constexpr size_t kUnitCount = [] {
  size_t n = 0;
  for (std::span<const Unit> program : kPrograms) n += program.size();
  return n;
}();

constexpr size_t kParameterBytes = [] {
  size_t n = 0;
  for (std::span<const Unit> program : kPrograms) {
    for (const Unit& u : program) n += u.byteCount;
  }
  return n;
}();

// Each program's opcodes, then its 0 byte.
constexpr auto kCommandStream = [] {
  std::array<uint8_t, kUnitCount + kPrograms.size()> stream{};
  size_t at = 0;
  for (std::span<const Unit> program : kPrograms) {
    for (const Unit& u : program) stream[at++] = u.opcode;
    stream[at++] = synth::kEnd;
  }
  return stream;
}();

// Every unit's bytes in unit order, with nothing between units or programs.
constexpr auto kParameterStream = [] {
  std::array<uint8_t, kParameterBytes> stream{};
  size_t at = 0;
  for (std::span<const Unit> program : kPrograms) {
    for (const Unit& u : program) {
      for (int i = 0; i < u.byteCount; ++i) stream[at++] = u.bytes[i];
    }
  }
  return stream;
}();

static_assert(kUnitCount == 129);
static_assert(kCommandStream.size() == 146);
static_assert(kParameterStream.size() == 404);

// ---------------------------------------------------------------------------
// Patterns
//
// Row bytes: R releases the note, H holds it, a note number starts a note.
// The drum tracks play note 60 throughout (X); their pitch comes from their
// programs.

using Pattern = std::array<uint8_t, synth::kRowsPerPattern>;

constexpr uint8_t R = 0;
constexpr uint8_t H = 1;
constexpr uint8_t X = 60;

// Track 0's notes: 60 is C at 130.8 Hz.
constexpr uint8_t C2 = 48;
constexpr uint8_t Eb2 = 51;
constexpr uint8_t F2 = 53;
constexpr uint8_t G2 = 55;
constexpr uint8_t Ab2 = 56;
constexpr uint8_t C3 = 60;

constexpr uint8_t kSilence = 3;  // all releases; every track's rest

// clang-format off
constexpr Pattern kPatterns[] = {
    // Track 0: one note per slot, on the downbeat or half-way, held six rows.
    // Over the eight-slot cycle 0 1 2 3 4 5 6 3 the bass line walks
    // C, F, Ab, (rest), C, Eb, G, (rest).
    /*  0 */ { C3,  H,  H,  H,  H,  H,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R},
    /*  1 */ {  R,  R,  R,  R,  R,  R,  R,  R, F2,  H,  H,  H,  H,  H,  R,  R},
    /*  2 */ {Ab2,  H,  H,  H,  H,  H,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R},
    /*  3 */ {  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R},
    /*  4 */ { C2,  H,  H,  H,  H,  H,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R},
    /*  5 */ {  R,  R,  R,  R,  R,  R,  R,  R,Eb2,  H,  H,  H,  H,  H,  R,  R},
    /*  6 */ { G2,  H,  H,  H,  H,  H,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R},

    // Track 1: every hit is one row struck and one held, releases between.
    // 7: pickup into the groove at slot 16: half a bar of rest, then four
    //    even eighth-note hits leading into the downbeat.
    /*  7 */ {  R,  R,  R,  R,  R,  R,  R,  R,  X,  H,  X,  H,  X,  H,  X,  H},
    // 8: the main groove: beat 1, the "and" of 2, beat 3, beat 4.
    /*  8 */ {  X,  H,  R,  R,  R,  R,  X,  H,  X,  H,  R,  R,  X,  H,  R,  R},
    // 9: the groove with a ghost hit at row 3 syncopating the first beat.
    /*  9 */ {  X,  H,  R,  X,  H,  R,  X,  H,  X,  H,  R,  R,  X,  H,  R,  R},
    // 10: the groove turned round in its second half: hits at rows 11 and 14
    //     push towards the next bar.
    /* 10 */ {  X,  H,  R,  R,  R,  R,  X,  H,  X,  H,  R,  X,  H,  R,  X,  H},
    // 11: fill closing each eight-slot cycle: the groove's first half, then
    //     a run of eighth notes through the second.
    /* 11 */ {  X,  H,  R,  R,  R,  R,  X,  H,  X,  H,  X,  H,  X,  H,  X,  H},
    // 12: the half-time breakdown under track 4's swell: the downbeat and
    //     one push on the "and" of 3.
    /* 12 */ {  X,  H,  R,  R,  R,  R,  R,  R,  R,  R,  X,  H,  R,  R,  R,  R},
    // 13: pickup after two silent slots: quarter notes from beat 2, closing
    //     into eighths.
    /* 13 */ {  R,  R,  R,  R,  X,  H,  R,  R,  X,  H,  R,  R,  X,  H,  X,  H},
    // 14: the half-time answer: the downbeat, the "and" of 2 and the "and"
    //     of 3.
    /* 14 */ {  X,  H,  R,  R,  R,  R,  X,  H,  R,  R,  X,  H,  R,  R,  R,  R},
    // 15: fill at the middle of the closing section: quarter notes, then
    //     eighths over the last two beats.
    /* 15 */ {  X,  H,  R,  R,  X,  H,  R,  R,  X,  H,  X,  H,  X,  H,  X,  H},

    // Track 2: only strikes and holds, a strike on every downbeat; each strike
    // restarts the sound. Eight patterns make one phrase, played twice.
    // 16: the phrase's main figure: beats 1 and 2, a quick double on the
    //     "and" of 2, beats 3 and 4.
    /* 16 */ {  X,  H,  H,  H,  X,  H,  X,  X,  X,  H,  H,  H,  X,  H,  H,  H},
    // 17: the answer, straighter: quarter notes with one pushed hit at row 10.
    /* 17 */ {  X,  H,  H,  H,  X,  H,  H,  H,  X,  H,  X,  H,  X,  H,  H,  H},
    // 18: the main figure with a pickup on the last eighth.
    /* 18 */ {  X,  H,  H,  H,  X,  H,  X,  X,  X,  H,  H,  H,  X,  H,  X,  H},
    // 19: fill closing the first half of the phrase: a sixteenth-note roll
    //     over the last beat.
    /* 19 */ {  X,  H,  H,  H,  X,  H,  H,  H,  X,  H,  X,  H,  X,  X,  X,  X},
    // 20: the main figure with an extra hit on the "and" of 1.
    /* 20 */ {  X,  H,  X,  H,  X,  H,  X,  X,  X,  H,  H,  H,  X,  H,  H,  H},
    // 21: quarter notes with a sixteenth pickup into beat 4.
    /* 21 */ {  X,  H,  H,  H,  X,  H,  H,  H,  X,  H,  H,  X,  X,  H,  H,  H},
    // 22: the main figure, busier: eighth notes through the second half.
    /* 22 */ {  X,  H,  H,  H,  X,  H,  X,  X,  X,  H,  X,  H,  X,  H,  X,  H},
    // 23: fill ending the phrase: eighth notes building into a sixteenth
    //     roll across the last two beats.
    /* 23 */ {  X,  H,  X,  H,  X,  H,  X,  H,  X,  X,  X,  X,  X,  X,  X,  X},
    // 24: sixteen holds: nothing new, the last strike rings out.
    /* 24 */ {  H,  H,  H,  H,  H,  H,  H,  H,  H,  H,  H,  H,  H,  H,  H,  H},

    // Track 3: short bursts like a closed hi-hat; strikes and holds only, a
    // strike on every downbeat.
    // 25: quarter notes.
    /* 25 */ {  X,  H,  H,  H,  X,  H,  H,  H,  X,  H,  H,  H,  X,  H,  H,  H},
    // 26: the hats doubled to eighth notes.
    /* 26 */ {  X,  H,  X,  H,  X,  H,  X,  H,  X,  H,  X,  H,  X,  H,  X,  H},
    // 27: fill ending each four-slot cycle: quarters, then eighths and a
    //     closing sixteenth.
    /* 27 */ {  X,  H,  H,  H,  X,  H,  H,  H,  X,  H,  X,  H,  X,  H,  X,  X},
    // 28: off-beat hats for the closing section: the downbeat, then every
    //     "and".
    /* 28 */ {  X,  H,  X,  H,  H,  H,  X,  H,  H,  H,  X,  H,  H,  H,  X,  H},
    // 29: one last strike, released at once.
    /* 29 */ {  X,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R},

    // Track 4: one note held four rows, then released into its long tail.
    /* 30 */ {  X,  H,  H,  H,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R,  R},
};
// clang-format on

constexpr int kPatternCount = static_cast<int>(std::size(kPatterns));
static_assert(kPatternCount == 31);

constexpr auto kPatternTable = [] {
  std::array<uint8_t, kPatternCount * synth::kRowsPerPattern> table{};
  for (int p = 0; p < kPatternCount; ++p) {
    std::copy(kPatterns[p].begin(), kPatterns[p].end(), table.begin() + p * synth::kRowsPerPattern);
  }
  return table;
}();

// ---------------------------------------------------------------------------
// OrderLists: every slot rests (pattern 3) unless listed here.

constexpr auto kOrderList = [] {
  std::array<uint8_t, synth::kOrderListBytes> order{};
  order.fill(kSilence);
  // Plays `patterns` in turn from `firstSlot`, `times` times over.
  auto play = [&order](int track, int firstSlot, std::initializer_list<uint8_t> patterns,
                       int times = 1) {
    int slot = firstSlot;
    for (int n = 0; n < times; ++n) {
      for (uint8_t pattern : patterns) {
        if (slot >= synth::kOrderSlots) throw "an OrderList has 64 slots";
        order[track * synth::kOrderSlots + slot++] = pattern;
      }
    }
  };

  // Track 0: the eight-slot cycle, over the whole song.
  play(0, 0, {0, 1, 2, 3, 4, 5, 6, 3}, 8);

  // Track 1: a pickup, four rounds of the groove with its variations and its
  // closing fill, then the half-time section: a breakdown with a pickup,
  // and the half-time groove with a fill half-way.
  play(1, 15, {7});
  play(1, 16, {8, 9, 8, 10, 8, 9, 8, 11}, 4);
  play(1, 48, {12, 3, 3, 13, 12, 3, 3, 3, 12, 14, 12, 15, 12, 14, 12, 3});

  // Track 2: the eight-slot phrase, a held gap, the phrase again.
  play(2, 24, {16, 17, 18, 19, 20, 21, 22, 23});
  play(2, 32, {24}, 8);
  play(2, 40, {16, 17, 18, 19, 20, 21, 22, 23});

  // Track 3: four rounds of its four-slot cycle, then the off-beat hats under
  // the half-time section and one last strike.
  play(3, 32, {25, 26, 25, 27}, 4);
  play(3, 56, {28}, 6);
  play(3, 62, {29});

  // Track 4: the one long note, at the start of the breakdown.
  play(4, 48, {30});
  return order;
}();

// ---------------------------------------------------------------------------
// DelayLengthTable, in samples. Entries 1 to 8 are the left reverb bank;
// entries 9 to 13 repeat 1 to 5 plus 24 samples so that the right bank does
// not ring in step with the left. A length of 0 returns each value one
// sample later: entries 14 to 16 give the right bank three such lines, and
// every track-level line (17 to 30) is one. Entry 0 is not used by the song.

constexpr std::array<uint16_t, synth::kDelayLengthEntries> kDelayLengthTable = {
    425,  1116, 1188, 1276, 1356, 1422, 1492, 1556, 1618, 1140, 1212,  //
    1300, 1380, 1446, 0,    0,    0,    0,    0,    0,    0,    0,     //
    0,    0,    0,    0,    0,    0,    0,    0,    0,
};

constexpr synth::SongView kShippedSong = {
    kPatternTable.data(),
    kPatternCount,
    kOrderList.data(),
    kCommandStream.data(),
    static_cast<uint32_t>(kCommandStream.size()),
    kParameterStream.data(),
    static_cast<uint32_t>(kParameterStream.size()),
    kDelayLengthTable.data(),
};

}  // namespace

const synth::SongView& shippedSong() {
  return kShippedSong;
}

}  // namespace song
