// Per-unit costs, so that a regression in one unit type shows up by name.
//
//   Reference/<Unit>  one call of the unit routine through the UnitHandlerTable
//   FastPath/<Unit>   one sample of a one-track song running up to 16 of the unit,
//                     on the compiled fast path (items = units run)
//   ShippedSong/...   one tick of the shipped song on either path
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "song/shipped_song.h"
#include "synth/song_image.h"
#include "synth/synth.h"
#include "synth/units.h"

using namespace synth;

namespace {

// Parameter bytes that keep each unit busy on a sounding voice: the
// Envelope in its decay, the Oscillator on a triangle, the Filter on all
// four outputs, a Delay with two long lines.
std::vector<uint8_t> busyParameters(unsigned opcode) {
  switch (opcode) {
    case kEnvelope: return {0, 120, 0, 64, 128};
    case kOscillator: return {64, 64, 0, 64, 128, kWaveTriangleSaw};
    case kFilter: return {48, 88, 15};
    case kDistortion: return {32};
    case kDelay: return {64, 128, 64, 64, 1, 2};
    case kStackOp: return {kStackAdd};
    case kStore: return {112, 7, 0};
    case kPan: return {};
    case kOutput: return {128, 64};
    case kAccumulate: return {kAccumulateMain};
    default: return {};
  }
}

// Values the unit takes, so that it leaves its result and the stack can be
// put back to this depth after every call.
constexpr int kPreparedDepth = 4;

void referenceUnit(benchmark::State& state, unsigned opcode) {
  EnginePtr engine = makeEngine();
  std::vector<uint8_t> commands(kRecordCount, kEnd);
  std::vector<uint8_t> parameters = busyParameters(opcode);
  uint16_t lengths[kDelayLengthEntries] = {0, 1116, 1188};
  SongView song{};
  song.commandStream = commands.data();
  song.commandLength = static_cast<uint32_t>(commands.size());
  song.parameterStream = parameters.data();
  song.delayLengthTable = lengths;
  startEngine(*engine, song);
  InstrumentRecord& record = engine->records[0];
  record.note = 60;
  const UnitRoutine routine = UnitHandlerTable[opcode].routine;
  for (auto _ : state) {
    engine->stack.depth = kPreparedDepth;
    engine->parameterPosition = 0;
    engine->delayCursor = 0;
    for (int i = 0; i < kPreparedDepth; ++i) engine->stack.values[i] = 0.25 * (i + 1);
    routine(*engine, record, record.workspaces[0]);
    benchmark::DoNotOptimize(engine->stack.values[0]);
  }
}

// A one-track song whose program runs `copies` of the unit between the units
// that feed it and the ones that drain the stack again.
// As many copies as fit in one program, up to 16.
int copiesThatFit(unsigned opcode) {
  std::vector<uint8_t> unit = busyParameters(opcode);
  StackEffect effect = unitStackEffect(opcode, unit.data());
  return std::min(16, (kWorkspaceCount - 1) / (1 + effect.takes + effect.leaves));
}

SongTables oneUnitSong(unsigned opcode, int copies) {
  SongTables song;
  song.patternTable = std::vector<uint8_t>(16, 60);
  song.patternTable.insert(song.patternTable.end(), 16, 0);
  song.orderList.assign(kOrderListBytes, 1);
  for (int slot = 0; slot < kOrderSlots; ++slot) song.orderList[slot] = 0;  // track 0 plays
  std::vector<uint8_t> unit = busyParameters(opcode);
  StackEffect effect = unitStackEffect(opcode, unit.data());
  auto add = [&](uint8_t op, std::vector<uint8_t> bytes) {
    song.commandStream.push_back(op);
    song.parameterStream.insert(song.parameterStream.end(), bytes.begin(), bytes.end());
  };
  // A NoOp first: the voice-end rule reads the first unit's word 0.
  add(kNoOp, {});
  for (int i = 0; i < copies; ++i) {
    for (int v = 0; v < effect.takes; ++v) add(kStackOp, {kStackPushNote});
    add(static_cast<uint8_t>(opcode), unit);
    for (int v = 0; v < effect.leaves; ++v) add(kStackOp, {kStackPop});
  }
  song.commandStream.insert(song.commandStream.end(), kRecordCount, kEnd);
  song.delayLengthTable = {0, 1116, 1188};
  return song;
}

void fastPathUnit(benchmark::State& state, unsigned opcode) {
  const int copies = copiesThatFit(opcode);
  SongTables song = oneUnitSong(opcode, copies);
  std::vector<std::string> errors = validateSong(song.view(), "benchmark song");
  if (!errors.empty()) {
    state.SkipWithError(errors.front().c_str());
    return;
  }
  EnginePtr engine = makeEngine();
  startEngine(*engine, song.view());
  uint32_t n = 1;  // sample 0 of tick 0 starts the note
  renderSampleFast(*engine, 0, 0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(renderSampleFast(*engine, 0, static_cast<int>(n)));
    n = n % (kSamplesPerTick - 1) + 1;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * copies);
}

void shippedSongTick(benchmark::State& state, RenderPath path) {
  auto step = path == RenderPath::kFast ? renderSampleFast : renderSample;
  EnginePtr engine = makeEngine();
  startEngine(*engine, song::shippedSong());
  int tick = 0;
  for (auto _ : state) {
    for (int sample = 0; sample < kSamplesPerTick; ++sample) {
      benchmark::DoNotOptimize(step(*engine, tick, sample));
    }
    tick = (tick + 1) % kTickCount;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kSamplesPerTick);
}

// One benchmark of each kind per unit type, named from the unit table.
const bool registered = [] {
  for (unsigned op = 1; op < kOpcodeCount; ++op) {
    std::string name = UnitHandlerTable[op].name;
    benchmark::RegisterBenchmark(("Reference/" + name).c_str(), referenceUnit, op);
    benchmark::RegisterBenchmark(("FastPath/" + name).c_str(), fastPathUnit, op);
  }
  benchmark::RegisterBenchmark("ShippedSong/fast_tick", shippedSongTick, RenderPath::kFast);
  benchmark::RegisterBenchmark("ShippedSong/reference_tick", shippedSongTick,
                               RenderPath::kReference);
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
