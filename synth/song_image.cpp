#include "synth/song_image.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "synth/units.h"

namespace synth {
namespace {

uint16_t readLittle16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void writeLittle16(std::vector<uint8_t>& out, unsigned v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

// Collects errors in the one-line form "NAME: WHERE: WHAT".
class ErrorList {
 public:
  explicit ErrorList(std::string_view name) : name_(name) {}
  void add(const std::string& where, const std::string& what) {
    errors_.push_back(name_ + ": " + where + ": " + what);
  }
  std::vector<std::string> take() { return std::move(errors_); }
  bool empty() const { return errors_.empty(); }

 private:
  std::string name_;
  std::vector<std::string> errors_;
};

std::string unitPlace(int program, size_t unit, unsigned opcode) {
  std::string kind = opcode < kOpcodeCount ? UnitHandlerTable[opcode].name : "unknown";
  return programName(program) + ", unit " + std::to_string(unit) + " (" + kind + ")";
}

std::string atCommand(uint32_t offset) { return "command byte " + std::to_string(offset); }
std::string atParameter(uint32_t offset) { return "parameter byte " + std::to_string(offset); }

// The limits on one unit's own parameter bytes. `p` points at its first byte.
void checkUnitParameters(ErrorList& errors, const std::string& place, const UnitListing& unit,
                         const uint8_t* p, int& delayLines) {
  const uint32_t at = unit.parameterOffset;
  switch (unit.opcode) {
    case kOscillator: {
      unsigned waveforms = p[5] & kWaveformBits;
      if (std::popcount(waveforms) != 1) {
        errors.add(place + ", " + atParameter(at + 5),
                   "flags " + std::to_string(p[5]) +
                       " must set exactly one waveform bit (1 sine, 2 triangle-saw, 4 pulse, 8 "
                       "noise)");
      }
      break;
    }
    case kDistortion:
      if (p[0] < 1 || p[0] > 127) {
        errors.add(place + ", " + atParameter(at),
                   "drive " + std::to_string(p[0]) + " is outside 1..127");
      }
      break;
    case kDelay: {
      unsigned index = p[4];
      unsigned count = p[5];
      if (count < 1) errors.add(place + ", " + atParameter(at + 5), "line count must be at least 1");
      if (index + count > kDelayLengthEntries) {
        errors.add(place + ", " + atParameter(at + 4),
                   "lines " + std::to_string(index) + ".." + std::to_string(index + count - 1) +
                       " run past the 31 entries of the DelayLengthTable");
      }
      delayLines += static_cast<int>(count);
      break;
    }
    case kAccumulate:
      if (p[0] != kAccumulateMain && p[0] != kAccumulateAux) {
        errors.add(place + ", " + atParameter(at),
                   "selector " + std::to_string(p[0]) + " must be 0 (main) or 8 (aux)");
      }
      break;
    case kStore: {
      unsigned index = readLittle16(p + 1) & kStoreIndexMask;
      if (index > kLastStoreIndex) {
        errors.add(place + ", " + atParameter(at + 1),
                   "word index " + std::to_string(index) + " is past the record's last word (435)");
      }
      break;
    }
    default: break;
  }
}

}  // namespace

std::string programName(int program) {
  return program == kGlobalRecord ? "global" : "track " + std::to_string(program);
}

std::vector<std::string> validateSong(const SongView& song, std::string_view name,
                                      SongSummary* summary) {
  ErrorList errors(name);
  SongSummary local;
  SongSummary& sum = summary != nullptr ? *summary : local;
  sum = SongSummary{};
  sum.patternCount = song.patternCount;

  if (song.patternCount < 1 || song.patternCount > kMaxPatterns) {
    errors.add("PatternTable", "pattern count " + std::to_string(song.patternCount) +
                                   " is outside 1..256");
  }
  for (int t = 0; t < kTrackCount; ++t) {
    for (int k = 0; k < kOrderSlots; ++k) {
      unsigned pattern = song.orderList[t * kOrderSlots + k];
      if (static_cast<int>(pattern) >= song.patternCount) {
        errors.add("OrderList, track " + std::to_string(t) + " slot " + std::to_string(k),
                   "pattern " + std::to_string(pattern) + " does not exist (the song has " +
                       std::to_string(song.patternCount) + ")");
      }
    }
  }

  uint32_t cmd = 0;
  uint32_t par = 0;
  bool aligned = true;  // false once a stream error makes later offsets meaningless
  for (int program = 0; program < kProgramCount && aligned; ++program) {
    ProgramListing listing;
    int depth = 0;
    bool stackOk = true;  // after one stack error the final depth says nothing new
    for (;;) {
      if (cmd >= song.commandLength) {
        errors.add(programName(program) + ", " + atCommand(cmd),
                   "the CommandStream ends inside the program (17 programs needed)");
        aligned = false;
        break;
      }
      unsigned opcode = song.commandStream[cmd];
      if (opcode == kEnd) {
        ++cmd;
        break;
      }
      size_t unitIndex = listing.units.size();
      std::string place = unitPlace(program, unitIndex, opcode);
      if (opcode >= kOpcodeCount) {
        errors.add(place + ", " + atCommand(cmd),
                   "opcode " + std::to_string(opcode) + " is not a unit type (1..11)");
        aligned = false;
        break;
      }
      if (unitIndex >= kWorkspaceCount) {
        errors.add(place + ", " + atCommand(cmd), "a program holds at most 48 units");
        aligned = false;
        break;
      }
      const UnitType& type = UnitHandlerTable[opcode];
      UnitListing unit{static_cast<uint8_t>(opcode), cmd, par, depth};
      if (par + type.streamBytes() > song.parameterLength) {
        errors.add(place + ", " + atParameter(par),
                   "the ParameterStream ends inside the unit's " +
                       std::to_string(type.streamBytes()) + " bytes");
        aligned = false;
        break;
      }
      const uint8_t* p = song.parameterStream + par;
      StackEffect effect = unitStackEffect(opcode, p);
      if (depth < effect.takes) {
        stackOk = false;
        errors.add(place + ", " + atCommand(cmd),
                   "takes " + std::to_string(effect.takes) + " stack values but finds " +
                       std::to_string(depth));
      } else if (depth + type.room > kStackCapacity) {
        stackOk = false;
        errors.add(place + ", " + atCommand(cmd),
                   "stack depth " + std::to_string(depth) + " plus working room " +
                       std::to_string(type.room) + " exceeds 8");
      }
      checkUnitParameters(errors, place, unit, p, sum.delayLinesPerSample);
      depth = std::max(0, depth - effect.takes) + effect.leaves;
      sum.deepestStack = std::max(sum.deepestStack, depth);
      listing.units.push_back(unit);
      ++cmd;
      par += type.streamBytes();
    }
    if (aligned && stackOk && depth != 0) {
      errors.add(programName(program) + ", " + atCommand(cmd - 1),
                 "the program ends with " + std::to_string(depth) +
                     " values on the stack; it must leave it empty");
    }
    // A Store must never overwrite an Envelope's state word.
    for (size_t u = 0; u < listing.units.size(); ++u) {
      const UnitListing& unit = listing.units[u];
      if (unit.opcode != kStore) continue;
      unsigned index = readLittle16(song.parameterStream + unit.parameterOffset + 1) &
                       kStoreIndexMask;
      size_t target = index / kWorkspaceWords;
      if (index < kRecordIndexAuxLeft && index % kWorkspaceWords == 0 &&
          target < listing.units.size() && listing.units[target].opcode == kEnvelope) {
        errors.add(unitPlace(program, u, kStore) + ", " + atParameter(unit.parameterOffset + 1),
                   "word index " + std::to_string(index) + " is the state word of the Envelope " +
                       "at unit " + std::to_string(target));
      }
    }
    sum.programs.push_back(std::move(listing));
  }
  if (aligned) {
    if (cmd != song.commandLength) {
      errors.add(atCommand(cmd), std::to_string(song.commandLength - cmd) +
                                     " CommandStream bytes follow the 17th program");
    }
    if (par != song.parameterLength) {
      errors.add(atParameter(par), std::to_string(song.parameterLength - par) +
                                       " ParameterStream bytes are never read");
    }
  }
  if (sum.delayLinesPerSample > kMaxDelayLinesPerSample) {
    errors.add("Delay units", std::to_string(sum.delayLinesPerSample) +
                                  " delay lines per sample; at most 1023 fit the pool");
  }
  sum.commandBytes = cmd;
  sum.parameterBytes = par;
  return errors.take();
}

SongView SongTables::view() const {
  return SongView{patternTable.data(),
                  static_cast<int>(patternTable.size() / kRowsPerPattern),
                  orderList.data(),
                  commandStream.data(),
                  static_cast<uint32_t>(commandStream.size()),
                  parameterStream.data(),
                  static_cast<uint32_t>(parameterStream.size()),
                  delayLengthTable.data()};
}

SongTables copySong(const SongView& song) {
  SongTables t;
  t.patternTable.assign(song.patternTable,
                        song.patternTable + song.patternCount * kRowsPerPattern);
  t.orderList.assign(song.orderList, song.orderList + kOrderListBytes);
  t.commandStream.assign(song.commandStream, song.commandStream + song.commandLength);
  t.parameterStream.assign(song.parameterStream, song.parameterStream + song.parameterLength);
  std::copy(song.delayLengthTable, song.delayLengthTable + kDelayLengthEntries,
            t.delayLengthTable.begin());
  return t;
}

LoadedSong parseSongImage(std::span<const uint8_t> bytes, std::string_view name) {
  LoadedSong result;
  ErrorList errors(name);
  auto fail = [&](const std::string& where, const std::string& what) {
    errors.add(where, what);
    result.errors = errors.take();
    return result;
  };
  if (bytes.size() < kSongImageHeaderBytes) {
    return fail("header", "the file is " + std::to_string(bytes.size()) +
                              " bytes long, shorter than the 16-byte header");
  }
  if (std::memcmp(bytes.data(), kSongImageMagic, sizeof kSongImageMagic) != 0) {
    return fail("byte 0", "not a song image (the magic \"SYNSONG1\" is missing)");
  }
  unsigned patterns = readLittle16(&bytes[8]);
  unsigned commands = readLittle16(&bytes[10]);
  unsigned parameters = readLittle16(&bytes[12]);
  if (patterns < 1 || patterns > kMaxPatterns) {
    return fail("byte 8", "pattern count " + std::to_string(patterns) + " is outside 1..256");
  }
  if (readLittle16(&bytes[14]) != 0) return fail("byte 14", "the reserved field must be 0");
  size_t expected = kSongImageHeaderBytes + 16 * patterns + kOrderListBytes + commands +
                    parameters + 2 * kDelayLengthEntries;
  if (bytes.size() != expected) {
    return fail("header", "the header's sizes (P=" + std::to_string(patterns) +
                              ", C=" + std::to_string(commands) + ", M=" +
                              std::to_string(parameters) + ") make " + std::to_string(expected) +
                              " bytes, but the file has " + std::to_string(bytes.size()));
  }
  SongTables song;
  const uint8_t* p = bytes.data() + kSongImageHeaderBytes;
  song.patternTable.assign(p, p + 16 * patterns);
  p += 16 * patterns;
  song.orderList.assign(p, p + kOrderListBytes);
  p += kOrderListBytes;
  song.commandStream.assign(p, p + commands);
  p += commands;
  song.parameterStream.assign(p, p + parameters);
  p += parameters;
  for (int i = 0; i < kDelayLengthEntries; ++i) song.delayLengthTable[i] = readLittle16(p + 2 * i);

  result.errors = validateSong(song.view(), name);
  if (result.errors.empty()) result.song = std::move(song);
  return result;
}

LoadedSong loadSongImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    LoadedSong result;
    result.errors.push_back(path + ": cannot open: " + std::strerror(errno));
    return result;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) {
    LoadedSong result;
    result.errors.push_back(path + ": read error");
    return result;
  }
  return parseSongImage(bytes, path);
}

std::vector<uint8_t> encodeSongImage(const SongView& song) {
  std::vector<uint8_t> out(kSongImageMagic, kSongImageMagic + sizeof kSongImageMagic);
  writeLittle16(out, static_cast<unsigned>(song.patternCount));
  writeLittle16(out, song.commandLength);
  writeLittle16(out, song.parameterLength);
  writeLittle16(out, 0);
  out.insert(out.end(), song.patternTable, song.patternTable + song.patternCount * kRowsPerPattern);
  out.insert(out.end(), song.orderList, song.orderList + kOrderListBytes);
  out.insert(out.end(), song.commandStream, song.commandStream + song.commandLength);
  out.insert(out.end(), song.parameterStream, song.parameterStream + song.parameterLength);
  for (int i = 0; i < kDelayLengthEntries; ++i) writeLittle16(out, song.delayLengthTable[i]);
  return out;
}

}  // namespace synth
