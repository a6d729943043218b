// Small songs built in test code: programs as lists of units, patterns and
// OrderLists set by hand, everything else silent.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "synth/song_image.h"
#include "synth/synth.h"
#include "synth/units.h"

namespace testing_song {

struct Unit {
  uint8_t opcode;
  std::vector<uint8_t> bytes;  // its parameter bytes, as they stand in the stream
};

inline Unit envelope(uint8_t attack, uint8_t decay, uint8_t sustain, uint8_t release,
                     uint8_t gain) {
  return {synth::kEnvelope, {attack, decay, sustain, release, gain}};
}
inline Unit oscillator(uint8_t transpose, uint8_t detune, uint8_t phase, uint8_t colour,
                       uint8_t gain, uint8_t flags) {
  return {synth::kOscillator, {transpose, detune, phase, colour, gain, flags}};
}
inline Unit filter(uint8_t frequency, uint8_t resonance, uint8_t type) {
  return {synth::kFilter, {frequency, resonance, type}};
}
inline Unit distortion(uint8_t drive) { return {synth::kDistortion, {drive}}; }
inline Unit delay(uint8_t pregain, uint8_t dry, uint8_t feedback, uint8_t damp, uint8_t index,
                  uint8_t count) {
  return {synth::kDelay, {pregain, dry, feedback, damp, index, count}};
}
inline Unit stackOp(uint8_t operation) { return {synth::kStackOp, {operation}}; }
inline Unit store(uint8_t amount, unsigned word) {
  return {synth::kStore,
          {amount, static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>(word >> 8)}};
}
inline Unit pan() { return {synth::kPan, {}}; }
inline Unit output(uint8_t gain, uint8_t aux) { return {synth::kOutput, {gain, aux}}; }
inline Unit accumulate(uint8_t selector) { return {synth::kAccumulate, {selector}}; }
inline Unit noOp() { return {synth::kNoOp, {}}; }

// The engine's standard line lengths.
inline constexpr std::array<uint16_t, synth::kDelayLengthEntries> kStandardDelayLengths = {
    425,  1116, 1188, 1276, 1356, 1422, 1492, 1556, 1618, 1140, 1212,
    1300, 1380, 1446, 0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0};

inline constexpr uint8_t kHold = 1;
inline constexpr uint8_t kRelease = 0;

class SongBuilder {
 public:
  // One pattern of sixteen releases (pattern 0) named by every slot, and 17
  // empty programs.
  SongBuilder() : patterns_(1, std::array<uint8_t, 16>{}), programs_(synth::kProgramCount) {
    orderList_.fill(0);
  }

  SongBuilder& program(int index, std::vector<Unit> units) {
    programs_[index] = std::move(units);
    return *this;
  }
  // Sets pattern p (growing the table as needed).
  SongBuilder& pattern(int p, std::array<uint8_t, 16> rows) {
    if (static_cast<int>(patterns_.size()) <= p) patterns_.resize(p + 1, {});
    patterns_[p] = rows;
    return *this;
  }
  SongBuilder& order(int track, int slot, uint8_t pattern) {
    orderList_[track * synth::kOrderSlots + slot] = pattern;
    return *this;
  }
  SongBuilder& delayLength(int entry, uint16_t length) {
    delayLengths_[entry] = length;
    return *this;
  }

  synth::SongTables build() const {
    synth::SongTables t;
    for (const auto& p : patterns_) t.patternTable.insert(t.patternTable.end(), p.begin(), p.end());
    t.orderList.assign(orderList_.begin(), orderList_.end());
    for (const auto& program : programs_) {
      for (const Unit& u : program) {
        t.commandStream.push_back(u.opcode);
        t.parameterStream.insert(t.parameterStream.end(), u.bytes.begin(), u.bytes.end());
      }
      t.commandStream.push_back(synth::kEnd);
    }
    t.delayLengthTable = delayLengths_;
    return t;
  }

 private:
  std::vector<std::array<uint8_t, 16>> patterns_;
  std::array<uint8_t, synth::kOrderListBytes> orderList_{};
  std::vector<std::vector<Unit>> programs_;
  std::array<uint16_t, synth::kDelayLengthEntries> delayLengths_ = kStandardDelayLengths;
};

// A fresh engine running one song, sample by sample.
struct SongRun {
  synth::SongTables song;
  synth::EnginePtr engine = synth::makeEngine();
  uint32_t frame = 0;

  explicit SongRun(synth::SongTables tables) : song(std::move(tables)) {
    synth::startEngine(*engine, song.view());
  }
  synth::Frame step() {
    synth::Frame f = synth::renderSample(*engine, static_cast<int>(frame / synth::kSamplesPerTick),
                                         static_cast<int>(frame % synth::kSamplesPerTick));
    ++frame;
    return f;
  }
  synth::InstrumentRecord& record(int r) { return engine->records[r]; }
  synth::InstrumentRecord& global() { return engine->records[synth::kGlobalRecord]; }
};

}  // namespace testing_song

namespace testing_song {

// Runs single units directly on record 0 of a fresh engine, for the rules
// that are clearest at the level of one unit.
struct UnitBench {
  synth::EnginePtr engine = synth::makeEngine();
  std::vector<uint8_t> bytes;
  std::array<uint16_t, synth::kDelayLengthEntries> delayLengths = kStandardDelayLengths;
  std::array<uint8_t, synth::kProgramCount> emptyPrograms{};

  UnitBench() {
    synth::SongView view{};
    view.commandStream = emptyPrograms.data();
    view.commandLength = synth::kProgramCount;
    view.delayLengthTable = delayLengths.data();
    synth::startEngine(*engine, view);
    record().note = 60;
  }
  synth::InstrumentRecord& record() { return engine->records[0]; }
  synth::UnitWorkspace& workspace(int k = 0) { return record().workspaces[k]; }
  synth::SignalStack& stack() { return engine->stack; }

  // Stack contents given bottom first.
  void setStack(std::initializer_list<double> bottomFirst) {
    engine->stack.depth = 0;
    for (double v : bottomFirst) engine->stack.push(v);
  }
  std::vector<double> stackBottomFirst() const {
    return {engine->stack.values, engine->stack.values + engine->stack.depth};
  }

  // Runs the unit on workspace k; returns the parameter bytes it consumed.
  uint32_t run(const Unit& unit, int k = 0) {
    bytes = unit.bytes;
    bytes.resize(bytes.size() + 8, 0xEE);  // bytes past the unit's own must stay unread
    engine->song.parameterStream = bytes.data();
    engine->song.parameterLength = static_cast<uint32_t>(bytes.size());
    engine->parameterPosition = 0;
    synth::UnitHandlerTable[unit.opcode].routine(*engine, record(), workspace(k));
    return engine->parameterPosition;
  }
  // The value the unit leaves on top, for units that push or replace one.
  double runTop(const Unit& unit, int k = 0) {
    run(unit, k);
    return engine->stack.top();
  }
};

}  // namespace testing_song
