// The fast path against the reference interpreter: byte-identical frames and
// engine state on the shipped song's opening and on many random valid songs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "song/shipped_song.h"
#include "song_builder.h"
#include "synth/song_image.h"
#include "synth/synth.h"
#include "synth/units.h"

using namespace synth;
using namespace testing_song;

namespace {

// Builds songs that respect every limit of the loader while reaching for
// every unit type, Store flag and target, note byte and line length.
class RandomSong {
 public:
  explicit RandomSong(uint32_t seed) : rng_(seed) {}

  SongTables build() {
    SongBuilder b;
    int patterns = pick(2, 8);
    for (int p = 1; p < patterns; ++p) b.pattern(p, randomPattern());
    for (int t = 0; t < kTrackCount; ++t) {
      bool silent = chance(0.25);  // only release rows: the track never sounds
      for (int slot = 0; slot < kOrderSlots; ++slot) {
        b.order(t, slot, static_cast<uint8_t>(silent ? 0 : pick(0, patterns - 1)));
      }
    }
    for (int e = 0; e < kDelayLengthEntries; ++e) {
      b.delayLength(e, static_cast<uint16_t>(chance(0.3) ? pick(0, 1) : pick(2, 700)));
    }
    for (int p = 0; p < kProgramCount; ++p) b.program(p, randomProgram(p == kGlobalRecord));
    return b.build();
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  uint8_t byte() { return static_cast<uint8_t>(pick(0, 255)); }

  std::array<uint8_t, 16> randomPattern() {
    std::array<uint8_t, 16> rows{};
    for (uint8_t& row : rows) {
      int kind = pick(0, 9);
      if (kind < 3) {
        row = kHold;
      } else if (kind < 5) {
        row = chance(0.5) ? kRelease : static_cast<uint8_t>(pick(128, 255));
      } else {
        row = static_cast<uint8_t>(pick(2, 127));  // repeats retrigger the same note
      }
    }
    return rows;
  }

  // A unit that fits the current stack depth.
  Unit randomUnit(int depth, const std::vector<Unit>& before) {
    for (;;) {
      int opcode = pick(1, 11);
      const UnitType& type = UnitHandlerTable[opcode];
      Unit u;
      switch (opcode) {
        case kEnvelope:
          u = envelope(byte() % 140, byte() % 140, byte(), byte() % 140, byte());
          break;
        case kOscillator: {
          uint8_t wave = static_cast<uint8_t>(1 << pick(0, 3));
          uint8_t flags = static_cast<uint8_t>(wave | (chance(0.3) ? kLowFrequencyMode : 0) |
                                               (chance(0.2) ? 0xE0 & byte() : 0));
          u = oscillator(byte(), byte(), byte(), byte(), byte(), flags);
          break;
        }
        case kFilter:  // mostly inside the region where the recurrence settles
          u = filter(static_cast<uint8_t>(pick(0, 100)), static_cast<uint8_t>(pick(8, 160)), byte());
          break;
        case kDistortion: u = distortion(static_cast<uint8_t>(pick(1, 127))); break;
        case kDelay: {
          int count = pick(1, 4);
          u = delay(byte(), byte(), static_cast<uint8_t>(pick(0, 127)),
                    static_cast<uint8_t>(pick(0, 127)),
                    static_cast<uint8_t>(pick(0, kDelayLengthEntries - count)),
                    static_cast<uint8_t>(count));
          break;
        }
        case kStackOp: u = stackOp(chance(0.2) ? byte() : static_cast<uint8_t>(pick(1, 9))); break;
        case kStore: u = store(byte(), randomStoreWord(before)); break;
        case kPan: u = pan(); break;
        case kOutput: u = output(byte(), byte()); break;
        case kAccumulate: u = accumulate(chance(0.5) ? kAccumulateMain : kAccumulateAux); break;
        default: u = noOp(); break;
      }
      StackEffect effect = unitStackEffect(u.opcode, u.bytes.data());
      // A stack left full could only be followed by NoOps; stay below it.
      int after = depth - effect.takes + effect.leaves;
      if (effect.takes <= depth && depth + type.room <= kStackCapacity && after < kStackCapacity) {
        return u;
      }
    }
  }

  // Mostly the modulation words of units already in the program, sometimes
  // any word of the record; never an Envelope's state word.
  unsigned randomStoreWord(const std::vector<Unit>& before) {
    unsigned index;
    if (!before.empty() && chance(0.7)) {
      int unit = pick(0, static_cast<int>(before.size()) - 1);
      static const int kWords[] = {1, 2, 4, 5, 0};
      index = static_cast<unsigned>(unit * kWorkspaceWords + kWords[pick(0, 4)]);
    } else {
      index = static_cast<unsigned>(pick(0, kLastStoreIndex));
    }
    unsigned unit = index / kWorkspaceWords;
    if (index < kRecordIndexAuxLeft && index % kWorkspaceWords == 0 && unit < before.size() &&
        before[unit].opcode == kEnvelope) {
      index += 2;  // the Envelope's gain modulation instead of its state
    }
    unsigned flags = (chance(0.3) ? kStoreAddFlag : 0) | (chance(0.3) ? kStorePopFlag : 0);
    return index | flags;
  }

  std::vector<Unit> randomProgram(bool global) {
    std::vector<Unit> units;
    if (!global && chance(0.1)) return units;  // an empty program
    int depth = 0;
    int length = pick(3, 24);
    while (static_cast<int>(units.size()) < length) {
      Unit u = randomUnit(depth, units);
      // A Store aimed at a later unit's word 0 may not land on an Envelope.
      StackEffect effect = unitStackEffect(u.opcode, u.bytes.data());
      depth = depth - effect.takes + effect.leaves;
      units.push_back(u);
    }
    fixEnvelopeStateTargets(units);
    // Bring the stack back to empty: an Output when a pair is there, pops after.
    while (depth > 0 && static_cast<int>(units.size()) < kWorkspaceCount) {
      if (depth >= 2 && depth + UnitHandlerTable[kOutput].room <= kStackCapacity) {
        units.push_back(output(byte(), byte()));
        depth -= 2;
      } else {
        units.push_back(stackOp(kStackPop));
        depth -= 1;
      }
    }
    return units;
  }

  static void fixEnvelopeStateTargets(std::vector<Unit>& units) {
    for (Unit& u : units) {
      if (u.opcode != kStore) continue;
      unsigned word = u.bytes[1] | (u.bytes[2] << 8);
      unsigned index = word & kStoreIndexMask;
      unsigned unit = index / kWorkspaceWords;
      if (index < kRecordIndexAuxLeft && index % kWorkspaceWords == 0 && unit < units.size() &&
          units[unit].opcode == kEnvelope) {
        u.bytes[1] = static_cast<uint8_t>(u.bytes[1] + 2);
      }
    }
  }

  std::mt19937 rng_;
};

// Renders frames on both paths in lock step and compares frames, records,
// the noise seed and the delay lines in use.
void expectSameRender(const SongView& song, uint32_t frames, const std::string& what) {
  EnginePtr reference = makeEngine();
  EnginePtr fast = makeEngine();
  startEngine(*reference, song);
  startEngine(*fast, song);
  for (uint32_t n = 0; n < frames; ++n) {
    int tick = static_cast<int>(n / kSamplesPerTick);
    int sample = static_cast<int>(n % kSamplesPerTick);
    Frame a = renderSample(*reference, tick, sample);
    Frame b = renderSampleFast(*fast, tick, sample);
    ASSERT_EQ(std::bit_cast<uint64_t>(a), std::bit_cast<uint64_t>(b))
        << what << ": frame " << n << " differs";
    // The records are compared every so often, so a divergence in state is
    // caught near where it starts even when the frames do not show it yet.
    if (n % 61 != 0 && n + 1 != frames) continue;
    for (int r = 0; r < kRecordCount; ++r) {
      const auto* x = reinterpret_cast<const uint32_t*>(&reference->records[r]);
      const auto* y = reinterpret_cast<const uint32_t*>(&fast->records[r]);
      int w = 0;
      while (w < 438 && x[w] == y[w]) ++w;
      ASSERT_EQ(w, 438) << what << ": after frame " << n << ", record " << r << " word " << w
                        << " is " << std::hex << y[w] << " instead of " << x[w];
    }
  }
  EXPECT_EQ(reference->noiseSeed, fast->noiseSeed) << what;
  for (int r = 0; r < kRecordCount; ++r) {
    EXPECT_EQ(std::memcmp(&reference->records[r], &fast->records[r], sizeof(InstrumentRecord)), 0)
        << what << ": record " << r;
  }
  for (int l = 0; l <= static_cast<int>(reference->delayCursor); ++l) {
    EXPECT_EQ(std::memcmp(&reference->delayLines[l], &fast->delayLines[l], sizeof(DelayLine)), 0)
        << what << ": delay line " << l;
  }
}

TEST(Differential, RandomValidSongs) {
  constexpr int kSongs = 60;
  constexpr uint32_t kFrames = 6 * kSamplesPerTick + 100;  // several note changes
  for (uint32_t seed = 1; seed <= kSongs; ++seed) {
    SongTables song = RandomSong(seed).build();
    std::vector<std::string> errors = validateSong(song.view(), "random song");
    ASSERT_TRUE(errors.empty()) << "seed " << seed << ": " << errors.front();
    expectSameRender(song.view(), kFrames, "seed " + std::to_string(seed));
    if (HasFatalFailure()) return;
  }
}

TEST(Differential, ShippedSongOpening) {
  // Track 1 enters at slot 15; the first 17 slots cover the melodic track's
  // notes and releases, the drum's pickup and the silent tracks resting.
  expectSameRender(song::shippedSong(), 17 * 16 * kSamplesPerTick, "shipped song");
}

}  // namespace
