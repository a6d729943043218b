// Song images: the format, and validation of every limit the engine trusts.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "song_builder.h"
#include "synth/song_image.h"
#include "synth/units.h"

using namespace synth;
using namespace testing_song;

namespace {

// A small valid song that uses every unit type.
SongBuilder validSong() {
  SongBuilder b;
  b.pattern(1, {60, 1, 1, 1, 0, 0, 0, 0, 48, 1, 1, 1, 1, 1, 1, 0}).order(0, 0, 1).order(2, 5, 1);
  b.program(0, {envelope(0, 64, 64, 64, 128), oscillator(64, 64, 0, 64, 128, kWaveSine),
                stackOp(kStackMultiply), filter(64, 64, 1), distortion(32),
                delay(64, 128, 64, 64, 1, 2), store(128, 9 * 1 + 4), noOp(), pan(),
                output(128, 64)});
  b.program(2, {envelope(0, 60, 0, 0, 128), oscillator(64, 64, 0, 64, 128, kWaveNoise), stackOp(3),
                pan(), output(64, 0)});
  b.program(16, {accumulate(kAccumulateAux), delay(40, 128, 125, 64, 9, 8), stackOp(kStackDuplicate),
                 accumulate(kAccumulateMain), stackOp(kStackAddPairs), stackOp(kStackPop),
                 stackOp(kStackPushNote), stackOp(kStackAdd), output(64, 0)});
  return b;
}

std::vector<std::string> errorsOf(const SongTables& song) {
  return validateSong(song.view(), "fixture.syn");
}

TEST(SongImage, ValidSongPassesAndRoundTrips) {
  SongTables song = validSong().build();
  SongSummary summary;
  EXPECT_EQ(validateSong(song.view(), "fixture.syn", &summary), std::vector<std::string>{});
  ASSERT_EQ(summary.programs.size(), 17u);
  EXPECT_EQ(summary.programs[0].units.size(), 10u);
  EXPECT_EQ(summary.programs[1].units.size(), 0u);
  EXPECT_EQ(summary.delayLinesPerSample, 10);
  EXPECT_EQ(summary.deepestStack, 5);
  EXPECT_EQ(summary.commandBytes, song.commandStream.size());
  EXPECT_EQ(summary.parameterBytes, song.parameterStream.size());

  std::vector<uint8_t> image = encodeSongImage(song.view());
  EXPECT_EQ(image.size(), 16 + 16 * 2 + 1024 + song.commandStream.size() +
                              song.parameterStream.size() + 62);
  EXPECT_EQ(std::memcmp(image.data(), "SYNSONG1", 8), 0);
  LoadedSong loaded = parseSongImage(image, "fixture.syn");
  ASSERT_TRUE(loaded.song) << (loaded.errors.empty() ? "" : loaded.errors[0]);
  EXPECT_EQ(loaded.song->patternTable, song.patternTable);
  EXPECT_EQ(loaded.song->orderList, song.orderList);
  EXPECT_EQ(loaded.song->commandStream, song.commandStream);
  EXPECT_EQ(loaded.song->parameterStream, song.parameterStream);
  EXPECT_EQ(loaded.song->delayLengthTable, song.delayLengthTable);
}

// A mutation of the valid song, and the error line it must produce.
struct BadSong {
  const char* what;
  std::function<void(SongBuilder&)> change;
  const char* expected;  // a substring of the one error line
};

TEST(SongImage, RejectsEachBrokenLimitWithAPreciseMessage) {
  const BadSong cases[] = {
      {"opcode past the table", [](SongBuilder& b) { b.program(3, {{12, {}}}); },
       "fixture.syn: track 3, unit 0 (unknown), command byte 18: opcode 12 is not a unit type"},
      {"49 units", [](SongBuilder& b) { b.program(4, std::vector<Unit>(49, noOp())); },
       "track 4, unit 48 (NoOp), command byte 67: a program holds at most 48 units"},
      {"stack underflow", [](SongBuilder& b) { b.program(5, {stackOp(kStackAdd)}); },
       "track 5, unit 0 (StackOp), command byte 20: takes 2 stack values but finds 0"},
      {"stack too deep",
       [](SongBuilder& b) {
         std::vector<Unit> units(6, envelope(0, 0, 0, 0, 0));
         units.resize(12, stackOp(kStackPop));
         b.program(5, units);
       },
       "track 5, unit 5 (Envelope), command byte 25: stack depth 5 plus working room 4 exceeds 8"},
      {"program leaves values", [](SongBuilder& b) { b.program(6, {stackOp(kStackPushNote)}); },
       "track 6, command byte 22: the program ends with 1 values on the stack"},
      {"store past the record",
       [](SongBuilder& b) { b.program(7, {stackOp(kStackPushNote), store(128, 436 | kStorePopFlag)}); },
       "track 7, unit 1 (Store), parameter byte 43: word index 436 is past the record's last word"},
      {"store into an envelope's state",
       [](SongBuilder& b) {
         b.program(7, {stackOp(kStackPushNote), envelope(0, 0, 0, 0, 0),
                       store(128, 9 | kStorePopFlag), stackOp(1)});
       },
       "track 7, unit 2 (Store), parameter byte 48: word index 9 is the state word of the "
       "Envelope at unit 1"},
      {"accumulate selector",
       [](SongBuilder& b) { b.program(8, {accumulate(4), stackOp(1), stackOp(1)}); },
       "track 8, unit 0 (Accumulate), parameter byte 41: selector 4 must be 0 (main) or 8"},
      {"no waveform bit",
       [](SongBuilder& b) { b.program(9, {oscillator(64, 64, 0, 64, 128, 16), stackOp(1)}); },
       "track 9, unit 0 (Oscillator), parameter byte 46: flags 16 must set exactly one waveform"},
      {"two waveform bits",
       [](SongBuilder& b) { b.program(9, {oscillator(64, 64, 0, 64, 128, 3), stackOp(1)}); },
       "flags 3 must set exactly one waveform bit"},
      {"drive 0",
       [](SongBuilder& b) { b.program(10, {stackOp(kStackPushNote), distortion(0), stackOp(1)}); },
       "track 10, unit 1 (Distortion), parameter byte 42: drive 0 is outside 1..127"},
      {"drive 128",
       [](SongBuilder& b) { b.program(10, {stackOp(kStackPushNote), distortion(128), stackOp(1)}); },
       "drive 128 is outside 1..127"},
      {"no delay lines",
       [](SongBuilder& b) { b.program(11, {stackOp(kStackPushNote), delay(1, 1, 1, 1, 3, 0), stackOp(1)}); },
       "track 11, unit 1 (Delay), parameter byte 47: line count must be at least 1"},
      {"lines past the table",
       [](SongBuilder& b) { b.program(11, {stackOp(kStackPushNote), delay(1, 1, 1, 1, 29, 3), stackOp(1)}); },
       "track 11, unit 1 (Delay), parameter byte 46: lines 29..31 run past the 31 entries"},
      {"more than 1023 lines",
       [](SongBuilder& b) {
         std::vector<Unit> units = {stackOp(kStackPushNote)};
         for (int i = 0; i < 34; ++i) units.push_back(delay(1, 1, 1, 1, 0, 30));
         units.push_back(stackOp(1));
         b.program(12, units);
       },
       "Delay units: 1030 delay lines per sample; at most 1023 fit the pool"},
      {"missing pattern", [](SongBuilder& b) { b.order(13, 63, 2); },
       "OrderList, track 13 slot 63: pattern 2 does not exist (the song has 2)"},
  };
  for (const BadSong& c : cases) {
    SongBuilder builder = validSong();
    c.change(builder);
    std::vector<std::string> errors = errorsOf(builder.build());
    ASSERT_EQ(errors.size(), 1u) << c.what << (errors.empty() ? "" : ": " + errors[0]);
    EXPECT_NE(errors[0].find(c.expected), std::string::npos)
        << c.what << "\n  got:      " << errors[0] << "\n  expected: " << c.expected;
  }
}

TEST(SongImage, StreamsMustBeConsumedExactly) {
  SongTables song = validSong().build();
  SongTables extraCommand = song;
  extraCommand.commandStream.push_back(0);
  SongTables extraParameter = song;
  extraParameter.parameterStream.push_back(7);
  SongTables shortCommand = song;
  shortCommand.commandStream.pop_back();
  SongTables shortParameter = song;
  shortParameter.parameterStream.pop_back();
  const std::pair<const SongTables*, const char*> cases[] = {
      {&extraCommand, "1 CommandStream bytes follow the 17th program"},
      {&extraParameter, "1 ParameterStream bytes are never read"},
      {&shortCommand, "global, command byte"},
      {&shortParameter, "global, unit 8 (Output), parameter byte"},
  };
  for (auto [bad, expected] : cases) {
    std::vector<std::string> errors = errorsOf(*bad);
    ASSERT_EQ(errors.size(), 1u) << expected;
    EXPECT_NE(errors[0].find(expected), std::string::npos) << errors[0];
  }
}

TEST(SongImage, RejectsMalformedFiles) {
  const std::vector<uint8_t> good = encodeSongImage(validSong().build().view());
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> change;
    const char* expected;
  };
  const Case cases[] = {
      {"empty", [](auto& b) { b.clear(); }, "shorter than the 16-byte header"},
      {"magic", [](auto& b) { b[7] = '2'; }, "not a song image"},
      {"no patterns", [](auto& b) { b[8] = 0, b[9] = 0; }, "pattern count 0 is outside 1..256"},
      {"257 patterns", [](auto& b) { b[8] = 1, b[9] = 1; }, "pattern count 257 is outside"},
      {"reserved", [](auto& b) { b[14] = 1; }, "the reserved field must be 0"},
      {"truncated", [](auto& b) { b.pop_back(); }, "but the file has"},
      {"trailing byte", [](auto& b) { b.push_back(0); }, "but the file has"},
      {"command length", [](auto& b) { b[10] += 1; }, "but the file has"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = good;
    c.change(image);
    LoadedSong loaded = parseSongImage(image, "bad.syn");
    EXPECT_FALSE(loaded.song) << c.what;
    ASSERT_EQ(loaded.errors.size(), 1u) << c.what;
    EXPECT_EQ(loaded.errors[0].rfind("bad.syn: ", 0), 0u) << loaded.errors[0];
    EXPECT_NE(loaded.errors[0].find(c.expected), std::string::npos) << loaded.errors[0];
  }
}

TEST(SongImage, MissingFileNamesThePathAndTheReason) {
  LoadedSong loaded = loadSongImage("/nonexistent/dir/song.syn");
  ASSERT_EQ(loaded.errors.size(), 1u);
  EXPECT_EQ(loaded.errors[0], "/nonexistent/dir/song.syn: cannot open: No such file or directory");
}

TEST(UnitTable, StackRulesMatchWhatTheRoutinesDo) {
  // Every unit type run on a deep enough stack moves the depth exactly as the
  // table says and consumes exactly its stream bytes.
  const Unit samples[] = {envelope(0, 64, 64, 64, 128), oscillator(64, 64, 0, 64, 128, 1),
                          filter(64, 64, 1),             distortion(32),
                          delay(64, 128, 64, 64, 1, 2),  stackOp(kStackAdd),
                          stackOp(kStackDuplicate),      stackOp(kStackPushNote),
                          stackOp(0),                    store(128, 4),
                          store(128, 4 | kStorePopFlag), pan(),
                          output(128, 0),                accumulate(0),
                          noOp()};
  for (const Unit& u : samples) {
    UnitBench bench;
    bench.setStack({0.1, 0.2, 0.3, 0.4});
    uint32_t consumed = bench.run(u);
    StackEffect effect = unitStackEffect(u.opcode, u.bytes.data());
    EXPECT_EQ(consumed, static_cast<uint32_t>(UnitHandlerTable[u.opcode].streamBytes()))
        << UnitHandlerTable[u.opcode].name;
    EXPECT_EQ(bench.stack().depth, 4 - effect.takes + effect.leaves)
        << UnitHandlerTable[u.opcode].name;
  }
}

}  // namespace
