// The shipped song's tables: how the loader decodes its streams, and what its
// patterns and OrderLists play. Nothing here renders.
#include "song/shipped_song.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "synth/song_image.h"
#include "synth/units.h"

using namespace synth;

namespace {

const SongView& shipped() {
  return song::shippedSong();
}

struct Decoded {
  SongSummary summary;
  std::vector<std::string> errors;
};

const Decoded& decoded() {
  static const Decoded d = [] {
    Decoded result;
    result.errors = validateSong(shipped(), "shipped song", &result.summary);
    return result;
  }();
  return d;
}

const ProgramListing& program(int index) {
  return decoded().summary.programs.at(index);
}

// The parameter bytes of one decoded unit.
const uint8_t* parametersOf(const UnitListing& unit) {
  return shipped().parameterStream + unit.parameterOffset;
}

uint8_t patternAt(int track, int slot) {
  return shipped().orderList[track * kOrderSlots + slot];
}

uint8_t rowByte(int pattern, int row) {
  return shipped().patternTable[pattern * kRowsPerPattern + row];
}

bool isNewNote(uint8_t b) {
  return b >= 2 && b <= 127;
}

struct NoteOn {
  int tick;
  uint8_t note;
  bool operator==(const NoteOn&) const = default;
};

// What one track's sequencer reads over the whole song.
struct TrackTimeline {
  std::vector<NoteOn> noteOns;
  std::vector<int> releaseTicks;
};

TrackTimeline timelineOf(int track) {
  TrackTimeline timeline;
  for (int tick = 0; tick < kTickCount; ++tick) {
    uint8_t b = rowByte(patternAt(track, tick / kRowsPerPattern), tick % kRowsPerPattern);
    if (isNewNote(b)) timeline.noteOns.push_back({tick, b});
    if (b != 1 && !isNewNote(b)) timeline.releaseTicks.push_back(tick);
  }
  return timeline;
}

std::set<int> slotsWithNotes(int track) {
  std::set<int> slots;
  for (const NoteOn& on : timelineOf(track).noteOns) slots.insert(on.tick / kRowsPerPattern);
  return slots;
}

// ---------------------------------------------------------------------------
// Streams, as the loader decodes them

TEST(ShippedSongStreams, DecodeIntoSeventeenProgramsThatConsumeEveryByte) {
  EXPECT_EQ(decoded().errors, std::vector<std::string>{});
  std::vector<size_t> unitCounts;
  for (const ProgramListing& p : decoded().summary.programs) unitCounts.push_back(p.units.size());
  std::vector<size_t> expected = {20, 10, 12, 6, 7};
  expected.insert(expected.end(), 11, 6);
  expected.push_back(8);
  EXPECT_EQ(unitCounts, expected);

  EXPECT_EQ(shipped().commandLength, 146u);
  EXPECT_EQ(shipped().parameterLength, 404u);
  EXPECT_EQ(decoded().summary.commandBytes, 146u);
  EXPECT_EQ(decoded().summary.parameterBytes, 404u);
}

TEST(ShippedSongStreams, StackPeaksAtFourAndEveryProgramEndsEmpty) {
  EXPECT_EQ(decoded().summary.deepestStack, 4);
  // Where the peak is reached: track 0 after its third oscillator, the mix
  // after the main sums join the reverb's pair.
  struct Peak {
    int program;
    int unitAfterPeak;
  };
  for (Peak peak : {Peak{0, 9}, Peak{kGlobalRecord, 6}}) {
    SCOPED_TRACE(programName(peak.program));
    EXPECT_EQ(program(peak.program).units.at(peak.unitAfterPeak).depthBefore, 4);
  }
  // Each program closes with an Output that takes the last pair.
  for (int p = 0; p < kProgramCount; ++p) {
    SCOPED_TRACE(programName(p));
    const UnitListing& last = program(p).units.back();
    EXPECT_EQ(last.opcode, kOutput);
    EXPECT_EQ(last.depthBefore, 2);
  }
}

TEST(ShippedSongStreams, DelayUnitsTakeThirtyLinesInProgramOrder) {
  EXPECT_EQ(decoded().summary.delayLinesPerSample, 30);
  struct DelayUse {
    int program;
    int index;
    int count;
    bool operator==(const DelayUse&) const = default;
  };
  std::vector<DelayUse> uses;
  for (int p = 0; p < kProgramCount; ++p) {
    for (const UnitListing& unit : program(p).units) {
      if (unit.opcode != kDelay) continue;
      const uint8_t* bytes = parametersOf(unit);
      uses.push_back({p, bytes[4], bytes[5]});
    }
  }
  // Track-level lines are numbered from entry 17 in program order; the mix's
  // two banks take entries 1 to 8 (left) and 9 to 16 (right).
  std::vector<DelayUse> expected = {{0, 17, 1}, {0, 18, 1}, {4, 19, 1}};
  for (int track = 5; track < kTrackCount; ++track) expected.push_back({track, track + 15, 1});
  expected.push_back({kGlobalRecord, 1, 8});
  expected.push_back({kGlobalRecord, 9, 8});
  EXPECT_EQ(uses, expected);

  // The right bank is the left one's first five lengths plus 24 samples,
  // then three lines of length 0; every track-level line has length 0.
  const uint16_t* lengths = shipped().delayLengthTable;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(lengths[9 + i], lengths[1 + i] + 24) << "entry " << 9 + i;
  for (int entry = 14; entry < kDelayLengthEntries; ++entry) {
    EXPECT_EQ(lengths[entry], 0) << "entry " << entry;
  }
}

TEST(ShippedSongStreams, StoresOverwriteModulationWordsOfTheirOwnProgram) {
  int stores = 0;
  for (int p = 0; p < kProgramCount; ++p) {
    const std::vector<UnitListing>& units = program(p).units;
    for (size_t u = 0; u < units.size(); ++u) {
      if (units[u].opcode != kStore) continue;
      ++stores;
      SCOPED_TRACE(programName(p) + ", unit " + std::to_string(u));
      const uint8_t* bytes = parametersOf(units[u]);
      unsigned word = bytes[1] | (bytes[2] << 8);
      EXPECT_EQ(word & (kStoreAddFlag | kStorePopFlag), 0u);
      unsigned index = word & kStoreIndexMask;
      size_t target = index / kWorkspaceWords;
      unsigned targetWord = index % kWorkspaceWords;
      ASSERT_LT(target, units.size());
      switch (units[target].opcode) {
        case kEnvelope: EXPECT_EQ(targetWord, 2u); break;
        case kOscillator:
          EXPECT_TRUE(targetWord == 1 || targetWord == 4 || targetWord == 5) << targetWord;
          break;
        default: ADD_FAILURE() << "aims at a " << UnitHandlerTable[units[target].opcode].name;
      }
    }
  }
  EXPECT_EQ(stores, 7);
}

TEST(ShippedSongStreams, OutputGainsRouteEachTrackIntoTheMix) {
  struct Route {
    int program;
    int gain;
    int aux;
  };
  // Track 0 reaches the mix only through the reverb send; track 3 is the one
  // drum with a send; the mix halves its sum.
  std::vector<Route> routes = {{0, 0, 96}, {1, 128, 0}, {2, 32, 0}, {3, 128, 70}, {4, 128, 0}};
  for (int track = 5; track < kTrackCount; ++track) routes.push_back({track, 64, 0});
  routes.push_back({kGlobalRecord, 64, 0});
  for (const Route& route : routes) {
    SCOPED_TRACE(programName(route.program));
    const uint8_t* bytes = parametersOf(program(route.program).units.back());
    EXPECT_EQ(bytes[0], route.gain);
    EXPECT_EQ(bytes[1], route.aux);
  }
}

TEST(ShippedSongStreams, UnplayedTracksShareOneProgramButTheirDelayLine) {
  // A program's parameter bytes run up to the first byte of the next one.
  auto parameterBlock = [](int p) {
    const uint8_t* begin = parametersOf(program(p).units.front());
    const uint8_t* end = parametersOf(program(p + 1).units.front());
    return std::vector<uint8_t>(begin, end);
  };
  auto opcodes = [](int p) {
    std::vector<uint8_t> ops;
    for (const UnitListing& unit : program(p).units) ops.push_back(unit.opcode);
    return ops;
  };
  for (int track = 5; track < kTrackCount; ++track) {
    SCOPED_TRACE(programName(track));
    EXPECT_EQ(opcodes(track), opcodes(5));
    std::vector<uint8_t> block = parameterBlock(track);
    const std::vector<UnitListing>& units = program(track).units;
    auto delayUnit = std::find_if(units.begin(), units.end(),
                                  [](const UnitListing& u) { return u.opcode == kDelay; });
    ASSERT_NE(delayUnit, units.end());
    const size_t indexByte = delayUnit->parameterOffset + 4 - units.front().parameterOffset;
    EXPECT_EQ(block.at(indexByte), track + 15);
    block[indexByte] = parameterBlock(5)[indexByte];
    EXPECT_EQ(block, parameterBlock(5));
  }
}

TEST(ShippedSongImage, ExportAndParseGiveTheSameTables) {
  std::vector<uint8_t> image = encodeSongImage(shipped());
  EXPECT_EQ(image.size(), kSongImageHeaderBytes + 496 + 1024 + 146 + 404 + 62);
  LoadedSong loaded = parseSongImage(image, "shipped.syn");
  EXPECT_EQ(loaded.errors, std::vector<std::string>{});
  ASSERT_TRUE(loaded.song.has_value());
  const SongTables& tables = *loaded.song;
  const SongView& s = shipped();
  auto bytes = [](const uint8_t* p, size_t n) { return std::vector<uint8_t>(p, p + n); };
  EXPECT_EQ(tables.patternTable, bytes(s.patternTable, 31 * kRowsPerPattern));
  EXPECT_EQ(tables.orderList, bytes(s.orderList, kOrderListBytes));
  EXPECT_EQ(tables.commandStream, bytes(s.commandStream, s.commandLength));
  EXPECT_EQ(tables.parameterStream, bytes(s.parameterStream, s.parameterLength));
  EXPECT_TRUE(std::equal(tables.delayLengthTable.begin(), tables.delayLengthTable.end(),
                         s.delayLengthTable));
}

// ---------------------------------------------------------------------------
// Patterns and OrderLists

TEST(ShippedSongPatterns, AreNumberedTrackByTrackInOrderOfFirstUseAndAllUsed) {
  ASSERT_EQ(shipped().patternCount, 31);
  std::vector<int> firstUses;
  std::set<int> seen;
  for (int track = 0; track < kTrackCount; ++track) {
    for (int slot = 0; slot < kOrderSlots; ++slot) {
      if (seen.insert(patternAt(track, slot)).second) firstUses.push_back(patternAt(track, slot));
    }
  }
  std::vector<int> allInOrder(31);
  for (int p = 0; p < 31; ++p) allInOrder[p] = p;
  EXPECT_EQ(firstUses, allInOrder);
}

TEST(ShippedSongPatterns, HoldOnlyTheSongsNoteBytes) {
  const std::set<uint8_t> allowed = {0, 1, 48, 51, 53, 55, 56, 60};
  for (int i = 0; i < shipped().patternCount * kRowsPerPattern; ++i) {
    EXPECT_TRUE(allowed.count(shipped().patternTable[i]))
        << "pattern " << i / 16 << " row " << i % 16 << ": " << int{shipped().patternTable[i]};
  }
}

using Pattern = std::vector<uint8_t>;

Pattern patternBytes(int p) {
  return Pattern(shipped().patternTable + p * kRowsPerPattern,
                 shipped().patternTable + (p + 1) * kRowsPerPattern);
}

// One note at row 0 or 8, five holds after it, releases elsewhere.
bool isMelodicPhrase(const Pattern& p) {
  int start = isNewNote(p[0]) ? 0 : 8;
  for (int r = 0; r < kRowsPerPattern; ++r) {
    uint8_t want = r == start ? p[start] : (r > start && r <= start + 5) ? 1 : 0;
    if (!isNewNote(p[start]) || p[r] != want) return false;
  }
  return true;
}

// Strikes of note 60, each followed by exactly one hold; releases elsewhere.
bool isStrikeAndHold(const Pattern& p) {
  for (int r = 0; r < kRowsPerPattern; ++r) {
    bool afterStrike = r > 0 && p[r - 1] == 60;
    if (p[r] == 60 && (r + 1 == kRowsPerPattern || p[r + 1] != 1)) return false;
    if (p[r] == 1 && !afterStrike) return false;
    if (p[r] != 60 && p[r] != 1 && p[r] != 0) return false;
  }
  return true;
}

// Only strikes of note 60 and holds, with a strike at row 0: never released.
bool isStrikesWithoutRelease(const Pattern& p) {
  return p[0] == 60 && std::all_of(p.begin(), p.end(), [](uint8_t b) { return b == 60 || b == 1; });
}

TEST(ShippedSongPatterns, FollowTheirTracksRules) {
  struct Rule {
    const char* name;
    std::vector<int> patterns;
    bool (*holds)(const Pattern&);
  };
  const Rule rules[] = {
      {"melodic phrase", {0, 1, 2, 4, 5, 6}, isMelodicPhrase},
      {"strike and hold", {7, 8, 9, 10, 11, 12, 13, 14, 15}, isStrikeAndHold},
      {"strikes without release", {16, 17, 18, 19, 20, 21, 22, 23}, isStrikesWithoutRelease},
      {"strikes without release", {25, 26, 27, 28}, isStrikesWithoutRelease},
  };
  for (const Rule& rule : rules) {
    for (int p : rule.patterns) {
      EXPECT_TRUE(rule.holds(patternBytes(p))) << "pattern " << p << " breaks: " << rule.name;
    }
  }
  // The rests and one-offs, byte for byte.
  struct Fixed {
    int pattern;
    Pattern bytes;
  };
  const Fixed fixed[] = {
      {3, Pattern(16, 0)},
      {24, Pattern(16, 1)},
      {29, {60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {30, {60, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Fixed& f : fixed)
    EXPECT_EQ(patternBytes(f.pattern), f.bytes) << "pattern " << f.pattern;
}

TEST(ShippedSongOrderLists, NameThePatternsOfEachSection) {
  struct Entry {
    int track;
    int slot;
    int pattern;
  };
  const Entry entries[] = {
      // Track 1: rest, pickup, groove with its fill, half-time section.
      {1, 14, 3},
      {1, 15, 7},
      {1, 16, 8},
      {1, 17, 9},
      {1, 19, 10},
      {1, 23, 11},
      {1, 47, 11},
      {1, 48, 12},
      {1, 49, 3},
      {1, 51, 13},
      {1, 57, 14},
      {1, 59, 15},
      {1, 62, 12},
      {1, 63, 3},
      // Track 2: phrase, held gap, phrase.
      {2, 23, 3},
      {2, 24, 16},
      {2, 31, 23},
      {2, 32, 24},
      {2, 39, 24},
      {2, 40, 16},
      {2, 47, 23},
      {2, 48, 3},
      // Track 3: four-slot cycle, rest, closing hats, last strike.
      {3, 31, 3},
      {3, 32, 25},
      {3, 33, 26},
      {3, 35, 27},
      {3, 47, 27},
      {3, 48, 3},
      {3, 56, 28},
      {3, 61, 28},
      {3, 62, 29},
      {3, 63, 3},
      // Track 4: one slot.
      {4, 47, 3},
      {4, 48, 30},
      {4, 49, 3},
  };
  for (const Entry& e : entries) {
    EXPECT_EQ(patternAt(e.track, e.slot), e.pattern) << "track " << e.track << " slot " << e.slot;
  }

  // The cycles: each section repeats with the period its track plays.
  struct Cycle {
    int track;
    int firstSlot;
    int lastSlot;
    int period;
  };
  const Cycle cycles[] = {{0, 0, 63, 8}, {1, 16, 47, 8}, {3, 32, 47, 4}, {2, 24, 47, 16}};
  for (const Cycle& c : cycles) {
    for (int slot = c.firstSlot + c.period; slot <= c.lastSlot; ++slot) {
      EXPECT_EQ(patternAt(c.track, slot), patternAt(c.track, slot - c.period))
          << "track " << c.track << " slot " << slot;
    }
  }
  for (int track = 5; track < kTrackCount; ++track) {
    for (int slot = 0; slot < kOrderSlots; ++slot) {
      EXPECT_EQ(patternAt(track, slot), 3) << "track " << track << " slot " << slot;
    }
  }
}

TEST(ShippedSongOrderLists, StartNotesOnlyInEachTracksSections) {
  struct Span {
    int track;
    int firstSlot;  // first and last slot that start a note
    int lastSlot;
    std::vector<std::pair<int, int>> silent;  // slot ranges inside that start none
  };
  const Span spans[] = {
      {0, 0, 62, {}},          {1, 15, 62, {{49, 50}, {53, 55}}},
      {2, 24, 47, {{32, 39}}}, {3, 32, 62, {{48, 55}}},
      {4, 48, 48, {}},
  };
  for (const Span& span : spans) {
    SCOPED_TRACE("track " + std::to_string(span.track));
    std::set<int> slots = slotsWithNotes(span.track);
    ASSERT_FALSE(slots.empty());
    EXPECT_EQ(*slots.begin(), span.firstSlot);
    EXPECT_EQ(*slots.rbegin(), span.lastSlot);
    for (auto [from, to] : span.silent) {
      for (int slot = from; slot <= to; ++slot) EXPECT_FALSE(slots.count(slot)) << "slot " << slot;
    }
  }
  for (int track = 5; track < kTrackCount; ++track) {
    EXPECT_TRUE(timelineOf(track).noteOns.empty()) << "track " << track;
  }
}

TEST(ShippedSongOrderLists, MelodicTrackRepeatsItsSixNotesEveryCycle) {
  const NoteOn cycle[] = {{0, 60}, {24, 53}, {32, 56}, {64, 48}, {88, 51}, {96, 55}};
  std::vector<NoteOn> expected;
  for (int start = 0; start < kTickCount; start += 128) {
    for (NoteOn on : cycle) expected.push_back({start + on.tick, on.note});
  }
  EXPECT_EQ(timelineOf(0).noteOns, expected);
}

TEST(ShippedSongOrderLists, LongNoiseNoteStartsAtTick768AndIsReleasedAt772) {
  TrackTimeline timeline = timelineOf(4);
  EXPECT_EQ(timeline.noteOns, (std::vector<NoteOn>{{768, 60}}));
  auto release = std::upper_bound(timeline.releaseTicks.begin(), timeline.releaseTicks.end(), 768);
  ASSERT_NE(release, timeline.releaseTicks.end());
  EXPECT_EQ(*release, 772);
}

}  // namespace
