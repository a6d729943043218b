// The song clock, the interpreter and the output stage.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "song_builder.h"
#include "synth/synth.h"
#include "synth/units.h"

using namespace synth;
using namespace testing_song;

namespace {

// Track 0 plays its note as a value: note/128 through Pan into the main pair.
std::vector<Unit> noteProgram() { return {stackOp(kStackPushNote), pan(), output(128, 0)}; }

TEST(FetchParameters, ScalesBytesAndReturnsTheLastUnsigned) {
  UnitBench bench;
  bench.engine->scratch.slots[3] = 7.0f;
  std::vector<uint8_t> stream = {255, 64, 0};
  bench.engine->song.parameterStream = stream.data();
  bench.engine->parameterPosition = 0;
  EXPECT_EQ(fetchParameters(*bench.engine, 3), 0u);
  bench.engine->parameterPosition = 0;
  EXPECT_EQ(fetchParameters(*bench.engine, 1), 255u);
  EXPECT_EQ(bench.engine->scratch.slots[0], 1.9921875f);
  EXPECT_EQ(bench.engine->scratch.slots[1], 0.5f);
  EXPECT_EQ(bench.engine->scratch.slots[3], 7.0f) << "slots past the count stay as they were";
  EXPECT_EQ(bench.engine->parameterPosition, 1u);
}

TEST(Exp2, ParameterFormGivesTheRateOfAByte) {
  struct Case {
    uint8_t byte;
    double expected;
  };
  for (Case c : {Case{0, 1.0}, Case{16, 0.125}, Case{32, 1.0 / 64}, Case{128, std::ldexp(1.0, -24)}}) {
    ParameterScratch scratch{};
    scratch.slots[2] = c.byte * (1.0f / 128);
    EXPECT_EQ(exp2Parameter(scratch, 2), c.expected) << "byte " << int(c.byte);
  }
}

TEST(Exp2, ValueFormSplitsOffTheFractionWithTheSignOfX) {
  EXPECT_EQ(exp2Value(-1.5), std::exp2(-0.5) * std::exp2(-1.0));
  EXPECT_EQ(exp2Value(2.25), std::exp2(0.25) * 4.0);
  EXPECT_EQ(exp2Value(0.0), 1.0);
  EXPECT_EQ(exp2Value(-24.0), std::ldexp(1.0, -24));
}

TEST(OutputClamp, FollowsTheTestsInOrder) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float in, out;
  };
  for (Case c : {Case{1.5f, 1.0f}, Case{-3.0f, -1.0f}, Case{1.0f, 1.0f}, Case{-1.0f, -1.0f},
                 Case{0.25f, 0.25f}, Case{inf, 1.0f}, Case{-inf, -1.0f}}) {
    EXPECT_EQ(clampOutput(c.in), c.out) << c.in;
  }
  EXPECT_EQ(clampOutput(std::numeric_limits<float>::quiet_NaN()), 1.0f);
  EXPECT_TRUE(std::signbit(clampOutput(-0.0f))) << "-0 passes unchanged";
}

TEST(NoteUpdate, AppliesEachKindOfNoteByte) {
  struct Case {
    uint8_t byte;
    int releaseCountAfter;  // starting from 3
    int noteAfter;          // starting from 50
  };
  const Case cases[] = {
      {1, 3, 50},    // hold
      {0, 4, 50},    // release
      {128, 4, 50},  // negative bytes release too
      {200, 4, 50}, {255, 4, 50},
      {2, 0, 2},    // lowest new note
      {50, 0, 50},  // the playing note starts again
      {127, 0, 127},
  };
  for (const Case& c : cases) {
    SongTables song = SongBuilder()
                          .pattern(1, {c.byte, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1})
                          .order(0, 0, 1)
                          .build();
    SongRun run(std::move(song));
    InstrumentRecord& r = run.record(0);
    r.releaseCount = 3;
    r.note = 50;
    r.workspaces[5].setFloat(2, 0.5f);
    r.mainLeft = 0.25f;
    r.auxRight = -0.5f;
    updateTrackNote(*run.engine, 0, 0);
    EXPECT_EQ(r.releaseCount, c.releaseCountAfter) << "byte " << int(c.byte);
    EXPECT_EQ(r.note, c.noteAfter) << "byte " << int(c.byte);
    bool newNote = c.releaseCountAfter == 0;
    EXPECT_EQ(r.workspaces[5].asFloat(2), newNote ? 0.0f : 0.5f) << "byte " << int(c.byte);
    EXPECT_EQ(r.mainLeft, 0.25f) << "output words survive a new note";
    EXPECT_EQ(r.auxRight, -0.5f);
  }
}

TEST(NoteUpdate, ReadsTheRowOfTheTickThroughTheOrderList) {
  // Track 3 plays pattern 2 in slot 1: ticks 16..31 read its rows.
  SongTables song = SongBuilder()
                        .pattern(2, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 77, 0, 0})
                        .order(3, 1, 2)
                        .build();
  SongRun run(std::move(song));
  for (int tick = 0; tick < 48; ++tick) {
    updateTrackNote(*run.engine, 2, tick);
    updateTrackNote(*run.engine, 3, tick);
  }
  // 29 releases before the note at tick 29, then 18 after it.
  EXPECT_EQ(run.record(3).note, 77);
  EXPECT_EQ(run.record(3).releaseCount, 18);
  EXPECT_EQ(run.record(2).releaseCount, 48) << "a silent track counts every release row";
}

TEST(RenderLoop, NotesChangeOnlyAtTheFirstSampleOfATick) {
  SongTables song = SongBuilder()
                        .pattern(1, {64, 1, 0, 96, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1})
                        .order(0, 0, 1)
                        .program(0, noteProgram())
                        .program(16, {accumulate(kAccumulateMain), output(128, 0)})
                        .build();
  SongRun run(std::move(song));
  // Sample 0 of tick 0 already plays the note: the update precedes the program.
  EXPECT_EQ(run.step().left, 0.25f);
  for (int n = 1; n < 3 * kSamplesPerTick; ++n) {
    ASSERT_EQ(run.step().left, 0.25f) << "frame " << n;
  }
  EXPECT_EQ(run.step().left, 0.375f) << "tick 3 brings note 96";
}

TEST(VoiceEnd, LooksAtTheLowByteOfTheFirstWorkspaceWord) {
  struct Case {
    uint32_t word;
    bool ends;
  };
  for (Case c : {Case{4, true}, Case{260, true}, Case{0x404, true}, Case{5, false}, Case{3, false},
                 Case{0, false}}) {
    SongTables song = SongBuilder().build();
    SongRun run(std::move(song));
    InstrumentRecord& r = run.record(0);
    r.note = 60;
    r.releaseCount = 2;
    r.workspaces[0].words[0] = c.word;
    r.mainLeft = 0.5f;
    runInstrument(*run.engine, r);
    EXPECT_EQ(r.note, c.ends ? 0 : 60) << c.word;
    EXPECT_EQ(r.releaseCount, 2);
    EXPECT_EQ(r.workspaces[0].words[0], c.word) << "only note changes";
    EXPECT_EQ(r.mainLeft, 0.5f);
  }
}

TEST(GlobalInstrument, SeesNote16AndIsNeverReset) {
  // The global program keeps adding into a workspace word: nothing resets it.
  SongTables song = SongBuilder()
                        .pattern(1, {60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60})
                        .order(0, 0, 1)
                        .program(16, {stackOp(kStackPushNote), store(128, 4 | kStoreAddFlag),
                                      pan(), output(128, 0)})
                        .build();
  SongRun run(std::move(song));
  EXPECT_EQ(run.step().left, 0.0625f) << "note 16 / 128, halved by Pan";
  for (int n = 1; n < 3 * kSamplesPerTick; ++n) run.step();
  EXPECT_EQ(run.global().workspaces[0].asFloat(4), 0.125f * 3 * kSamplesPerTick);
  EXPECT_EQ(run.global().note, 16);
  EXPECT_EQ(run.global().releaseCount, 0);
}

TEST(Interpreter, ReadPositionsCoverEveryProgramOnce) {
  // Empty programs and parameterless units in between; each sample must
  // consume exactly the streams, whatever the notes.
  SongTables song = SongBuilder()
                        .program(0, {noOp(), stackOp(kStackPushNote), pan(), noOp(), output(128, 0)})
                        .program(1, {})
                        .program(2, {stackOp(kStackPushNote), filter(64, 64, 1), pan(), output(64, 64)})
                        .program(16, {accumulate(kAccumulateMain), output(128, 0)})
                        .build();
  const uint32_t commands = static_cast<uint32_t>(song.commandStream.size());
  const uint32_t parameters = static_cast<uint32_t>(song.parameterStream.size());
  SongRun run(std::move(song));
  for (int n = 0; n < 3; ++n) {
    run.step();
    EXPECT_EQ(run.engine->commandPosition, commands);
    EXPECT_EQ(run.engine->parameterPosition, parameters);
    EXPECT_EQ(run.engine->stack.depth, 0);
  }
}

TEST(Interpreter, EveryUnitTakesTheNextWorkspace) {
  // StackOp, NoOp, Filter: the Filter works in workspace 2 even on a note.
  SongTables song = SongBuilder()
                        .pattern(1, {60, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1})
                        .order(0, 0, 1)
                        .program(0, {stackOp(kStackPushNote), noOp(), filter(64, 64, 1), pan(),
                                     output(128, 0)})
                        .build();
  SongRun run(std::move(song));
  run.step();
  run.step();
  const InstrumentRecord& r = run.record(0);
  EXPECT_NE(r.workspaces[2].asFloat(0), 0.0f);
  EXPECT_NE(r.workspaces[2].asFloat(2), 0.0f);
  for (int w = 0; w < kWorkspaceWords; ++w) {
    EXPECT_EQ(r.workspaces[1].words[w], 0u);
    EXPECT_EQ(r.workspaces[3].words[w], 0u);
  }
}

TEST(RenderFrames, WritesEachFrameOnceAndReportsTheClamp) {
  // Track 0 sends (left 0.46875, right 1.875) for note 60; the global mix
  // passes it on, so only the right channel clips.
  SongTables song = SongBuilder()
                        .pattern(1, {60, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1})
                        .order(0, 0, 1)
                        .program(0, {stackOp(kStackPushNote), stackOp(kStackDuplicate),
                                     stackOp(kStackAdd), stackOp(kStackDuplicate),
                                     stackOp(kStackAdd), stackOp(kStackPushNote), output(128, 0)})
                        .program(16, {accumulate(kAccumulateMain), output(128, 0)})
                        .build();
  std::vector<Frame> out(5000, Frame{9.0f, 9.0f});
  auto engine = makeEngine();
  RenderProgress progress{};
  RenderStats stats{};
  renderFrames(*engine, song.view(), out.data(), 4000, &progress, &stats);
  EXPECT_EQ(progress.framesWritten.load(), 4000u);
  for (int n = 0; n < 4000; ++n) {
    ASSERT_EQ(out[n].left, 0.46875f) << n;
    ASSERT_EQ(out[n].right, 1.0f) << n;
  }
  EXPECT_EQ(out[4000].left, 9.0f) << "nothing past the requested frames";
  EXPECT_EQ(stats.clampedLeft, 0u);
  EXPECT_EQ(stats.clampedRight, 4000u);
  EXPECT_EQ(stats.peakLeft, 0.46875f);
  EXPECT_EQ(stats.peakRight, 1.875f);
}

}  // namespace
