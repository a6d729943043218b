// Song images: one song's five tables in a little-endian file, and the
// validation that lets the engine trust a song.
//
//   offset            size  field
//   0                 8     magic "SYNSONG1"
//   8                 2     P, pattern count 1..256
//   10                2     C, CommandStream bytes
//   12                2     M, ParameterStream bytes
//   14                2     reserved, 0
//   16                16P   PatternTable
//   16+16P            1024  OrderList
//   1040+16P          C     CommandStream
//   1040+16P+C        M     ParameterStream
//   1040+16P+C+M      62    DelayLengthTable, 31 x uint16
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "synth/synth.h"

namespace synth {

inline constexpr char kSongImageMagic[8] = {'S', 'Y', 'N', 'S', 'O', 'N', 'G', '1'};
inline constexpr size_t kSongImageHeaderBytes = 16;
inline constexpr int kProgramCount = kRecordCount;

// One unit as decoded from the streams.
struct UnitListing {
  uint8_t opcode;
  uint32_t commandOffset;    // of its opcode byte
  uint32_t parameterOffset;  // of its first parameter byte
  int depthBefore;           // SignalStack depth when it runs
};

struct ProgramListing {
  std::vector<UnitListing> units;
};

struct SongSummary {
  std::vector<ProgramListing> programs;
  uint32_t commandBytes = 0;
  uint32_t parameterBytes = 0;
  int patternCount = 0;
  int delayLinesPerSample = 0;
  int deepestStack = 0;  // between units, not counting working room
};

// "track N" or "global".
std::string programName(int program);

// Checks every limit the engine relies on. Returns one line per error, each
// naming `name`, the program, the unit and the stream offset; empty when the
// song is valid. Fills `summary` as far as the streams could be decoded.
std::vector<std::string> validateSong(const SongView& song, std::string_view name,
                                      SongSummary* summary = nullptr);

// A song held in memory, e.g. loaded from an image.
struct SongTables {
  std::vector<uint8_t> patternTable;
  std::vector<uint8_t> orderList;
  std::vector<uint8_t> commandStream;
  std::vector<uint8_t> parameterStream;
  std::array<uint16_t, kDelayLengthEntries> delayLengthTable{};

  SongView view() const;
};

SongTables copySong(const SongView& song);

struct LoadedSong {
  std::optional<SongTables> song;  // set only when the image is valid
  std::vector<std::string> errors;
};

// Parses and validates an image; `name` prefixes every error.
LoadedSong parseSongImage(std::span<const uint8_t> bytes, std::string_view name);
LoadedSong loadSongImage(const std::string& path);

std::vector<uint8_t> encodeSongImage(const SongView& song);

}  // namespace synth
