// StackOp, Store, Pan, Output, Accumulate and NoOp.
#include <gtest/gtest.h>

#include "song_builder.h"
#include "synth/synth.h"
#include "synth/units.h"

using namespace synth;
using namespace testing_song;

namespace {

TEST(StackOp, EveryOperation) {
  struct Case {
    uint8_t operation;
    std::vector<double> after;  // bottom first; before is always {9, 4, 3, 2, 0.5}
  };
  const Case cases[] = {
      {kStackPop, {9, 4, 3, 2}},
      {kStackAdd, {9, 4, 3, 2.5}},
      {kStackMultiply, {9, 4, 3, 1}},
      {kStackDuplicate, {9, 4, 3, 2, 0.5, 0.5}},
      {kStackExchange, {9, 4, 3, 0.5, 2}},
      {kStackAddKeep, {9, 4, 3, 2, 2.5}},
      {kStackMultiplyKeep, {9, 4, 3, 2, 1}},
      {kStackAddPairs, {9, 6, 3.5}},  // x3 + x1, x4 + x2
      {kStackPushNote, {9, 4, 3, 2, 0.5, 0.46875}},
      {0, {9, 8, 1.5}},  // every byte outside 1..9 multiplies the pairs
      {10, {9, 8, 1.5}},
      {200, {9, 8, 1.5}},
      {255, {9, 8, 1.5}},
  };
  for (const Case& c : cases) {
    UnitBench bench;  // note 60
    bench.setStack({9, 4, 3, 2, 0.5});
    EXPECT_EQ(bench.run(stackOp(c.operation)), 1u);
    EXPECT_EQ(bench.stackBottomFirst(), c.after) << "operation " << int(c.operation);
  }
}

TEST(StackOp, PushNoteReadsTheRunningRecord) {
  UnitBench bench;
  bench.setStack({});
  bench.record().note = 0;
  EXPECT_EQ(bench.runTop(stackOp(kStackPushNote)), 0.0);
  bench.record().note = 16;
  EXPECT_EQ(bench.runTop(stackOp(kStackPushNote)), 0.125);
}

TEST(Store, AmountScalesTheTopValue) {
  struct Case {
    uint8_t amount;
    float written;  // for top value 0.5
  };
  for (Case c : {Case{64, 0.0f}, Case{128, 0.5f}, Case{0, -0.5f}, Case{255, 1.4921875f},
                 Case{96, 0.25f}}) {
    UnitBench bench;
    bench.setStack({0.5});
    bench.workspace(3).setFloat(4, 7.0f);
    EXPECT_EQ(bench.run(store(c.amount, 3 * 9 + 4)), 3u) << "amount byte and a 16-bit word";
    EXPECT_EQ(bench.workspace(3).asFloat(4), c.written) << "amount " << int(c.amount);
    EXPECT_EQ(bench.stackBottomFirst(), std::vector<double>{0.5}) << "no pop flag: top stays";
  }
}

TEST(Store, AddAndPopFlags) {
  UnitBench bench;
  bench.setStack({1.0, 0.25});
  bench.workspace(1).setFloat(5, 2.0f);
  bench.run(store(128, 14 | kStoreAddFlag));
  EXPECT_EQ(bench.workspace(1).asFloat(5), 2.25f);
  bench.run(store(64, 14 | kStoreAddFlag));
  EXPECT_EQ(bench.workspace(1).asFloat(5), 2.25f) << "amount 64 with add leaves the target";
  bench.run(store(128, 14 | kStoreAddFlag | kStorePopFlag));
  EXPECT_EQ(bench.workspace(1).asFloat(5), 2.5f);
  EXPECT_EQ(bench.stackBottomFirst(), std::vector<double>{1.0});
  bench.run(store(0, kRecordIndexMainRight | kStorePopFlag));
  EXPECT_EQ(bench.record().mainRight, -1.0f);
  EXPECT_EQ(bench.stack().depth, 0);
}

TEST(Store, RoundsToFloat32AndReadsTheTargetAsFloat32) {
  UnitBench bench;
  bench.setStack({1.0 / 3});
  bench.workspace(0).setInt(7, 1);  // an int word read as float: the smallest denormal
  bench.run(store(128, 7 | kStoreAddFlag));
  EXPECT_EQ(bench.workspace(0).asFloat(7),
            static_cast<float>(static_cast<double>(std::bit_cast<float>(1u)) + 1.0 / 3));
  bench.run(store(128, kRecordIndexAuxLeft));
  EXPECT_EQ(bench.record().auxLeft, static_cast<float>(1.0 / 3));
}

TEST(Store, AFlagAddedAtEverySampleAccumulatesUntilANewNote) {
  SongTables song = SongBuilder()
                        .pattern(1, {60, 1, 1, 1, 1, 1, 1, 1, 60, 1, 1, 1, 1, 1, 1, 1})
                        .order(0, 0, 1)
                        .program(0, {stackOp(kStackPushNote), store(128, 2 | kStoreAddFlag),
                                     stackOp(kStackPop)})
                        .build();
  SongRun run(std::move(song));
  for (int n = 0; n < 10; ++n) run.step();
  EXPECT_EQ(run.record(0).workspaces[0].asFloat(2), 10 * 0.46875f);
  while (run.frame < 8 * kSamplesPerTick) run.step();
  EXPECT_EQ(run.record(0).workspaces[0].asFloat(2), 0.46875f * 8 * kSamplesPerTick);
  run.step();  // the new note at tick 8 zeroes the word before the program adds once
  EXPECT_EQ(run.record(0).workspaces[0].asFloat(2), 0.46875f);
}

TEST(Pan, HalvesIntoAnEqualPair) {
  UnitBench bench;
  bench.setStack({0.8});
  EXPECT_EQ(bench.run(pan()), 0u);
  EXPECT_EQ(bench.stackBottomFirst(), (std::vector<double>{0.4, 0.4}));
}

TEST(Output, WritesAuxThenMainFromThePairAndConsumesIt) {
  UnitBench bench;
  bench.setStack({7.0, -0.5, 1.0});  // R = -0.5, L = 1.0 on top
  EXPECT_EQ(bench.run(output(0, 96)), 2u);
  EXPECT_EQ(bench.record().auxLeft, 0.75f);
  EXPECT_EQ(bench.record().auxRight, -0.375f);
  EXPECT_EQ(bench.record().mainLeft, 0.0f);
  EXPECT_EQ(bench.record().mainRight, -0.0f);
  EXPECT_EQ(bench.stackBottomFirst(), std::vector<double>{7.0});
}

TEST(Output, TheLaterOfTwoOutputsStandsAndOverwritesAStore) {
  SongTables song = SongBuilder()
                        .pattern(1, {64, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1})
                        .order(0, 0, 1)
                        .program(0, {stackOp(kStackPushNote), store(128, kRecordIndexMainLeft),
                                     pan(), output(128, 128), stackOp(kStackPushNote), pan(),
                                     output(32, 0)})
                        .build();
  SongRun run(std::move(song));
  run.step();
  EXPECT_EQ(run.record(0).mainLeft, 0.0625f);
  EXPECT_EQ(run.record(0).mainRight, 0.0625f);
  EXPECT_EQ(run.record(0).auxLeft, 0.0f);
}

TEST(Accumulate, SumsTheSixteenTracksInOrderLeftOnTop) {
  for (uint8_t selector : {uint8_t{kAccumulateMain}, uint8_t{kAccumulateAux}}) {
    UnitBench bench;
    // Values whose sum depends on the order of the additions.
    for (int t = 0; t < kTrackCount; ++t) {
      InstrumentRecord& r = bench.engine->records[t];
      float big = t == 0 ? 1.0e17f : (t == 1 ? -1.0e17f : 0.0f);
      float small = t >= 2 ? 0.25f : 0.0f;
      (selector == kAccumulateMain ? r.mainLeft : r.auxLeft) = big + small;
      (selector == kAccumulateMain ? r.mainRight : r.auxRight) = static_cast<float>(t);
      (selector == kAccumulateMain ? r.auxLeft : r.mainLeft) = 1000.0f;  // the other pair
    }
    bench.engine->records[kGlobalRecord].mainLeft = 555.0f;  // never included
    bench.setStack({});
    bench.run(accumulate(selector));
    double left = 0;
    for (int t = 0; t < kTrackCount; ++t) {
      const InstrumentRecord& r = bench.engine->records[t];
      left += selector == kAccumulateMain ? r.mainLeft : r.auxLeft;
    }
    EXPECT_EQ(bench.stackBottomFirst(), (std::vector<double>{120.0, left}))
        << "selector " << int(selector);
    EXPECT_EQ(left, 3.5);
  }
}

TEST(NoOp, ChangesNothing) {
  UnitBench bench;
  bench.setStack({1.0, 2.0});
  EXPECT_EQ(bench.run(noOp()), 0u);
  EXPECT_EQ(bench.stackBottomFirst(), (std::vector<double>{1.0, 2.0}));
}

}  // namespace
