// synth: render songs to audio files, check song images, export the shipped
// song. Exit codes: 0 success, 1 bad input or failed output, 2 bad usage.
#ifdef SYNTH_HAVE_SNDFILE
#include <sndfile.h>
#endif
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "song/shipped_song.h"
#include "synth/song_image.h"
#include "synth/synth.h"
#include "synth/units.h"
#include "tools/atomic_file.h"
#include "tools/bench.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kShippedName = "shipped song";

const char* const kToolHelp =
    "usage: synth <command> [options]\n"
    "\n"
    "commands:\n"
    "  render [SONG] [-o OUT] [--frames N] [--format wav|f32]\n"
    "                  render a song image (default: the shipped song) to audio\n"
    "  check [SONG]    validate a song image and summarise it\n"
    "  export [-o FILE]\n"
    "                  write the shipped song as a song image\n"
    "  bench [SONG] [--runs N] [--reference]\n"
    "                  time renders of a song (default: the shipped song)\n"
    "\n"
    "Run 'synth <command> --help' for a command's options.\n"
    "Exit codes: 0 success, 1 bad input or failed output, 2 bad usage.\n";

#ifdef SYNTH_HAVE_SNDFILE
constexpr bool kWavAvailable = true;
const char* const kRenderHelp =
    "usage: synth render [SONG] [-o OUT] [--frames N] [--format wav|f32]\n"
    "\n"
    "Renders SONG (a song image; without it, the shipped song) to OUT.\n"
    "  -o OUT          output file (default: the song's name with .wav or .f32,\n"
    "                  in the current folder)\n"
    "  --frames N      render only the first N frames (1..2506752)\n"
    "  --format wav    32-bit float stereo WAV at 44,100 Hz (default)\n"
    "  --format f32    raw frames: little-endian float32 pairs, left then right\n"
    "The file is written under a temporary name and renamed when complete.\n";
#else
// Built without libsndfile: raw frames only.
constexpr bool kWavAvailable = false;
const char* const kRenderHelp =
    "usage: synth render [SONG] [-o OUT] [--frames N] [--format wav|f32]\n"
    "\n"
    "Renders SONG (a song image; without it, the shipped song) to OUT.\n"
    "  -o OUT          output file (default: the song's name with .f32,\n"
    "                  in the current folder)\n"
    "  --frames N      render only the first N frames (1..2506752)\n"
    "  --format f32    raw frames: little-endian float32 pairs, left then right\n"
    "                  (default)\n"
    "  --format wav    unavailable: this build has no libsndfile\n"
    "The file is written under a temporary name and renamed when complete.\n";
#endif

const char* const kCheckHelp =
    "usage: synth check [SONG]\n"
    "\n"
    "Validates SONG (a song image; without it, the shipped song) against every\n"
    "limit the engine relies on. Prints a summary and exits 0, or prints one\n"
    "line per error and exits 1.\n";

const char* const kExportHelp =
    "usage: synth export [-o FILE]\n"
    "\n"
    "Writes the shipped song as a song image (default FILE: shipped.syn).\n";

const char* const kBenchHelp =
    "usage: synth bench [SONG] [--runs N] [--reference]\n"
    "\n"
    "Renders SONG (default: the shipped song) N times (default 5) with fresh\n"
    "engine state and prints min, median and max of: render time, frames per\n"
    "second, real-time factor, time to the first 4,096 frames, and the smallest\n"
    "lead of the render over a playback that starts with it; then the peak\n"
    "resident memory. --reference also times the reference interpreter, prints\n"
    "the ratio run by run and checks that both give the same frames.\n";

int usageError(const std::string& message, const char* help) {
  std::fprintf(stderr, "synth: %s\n\n%s", message.c_str(), help);
  return kExitUsage;
}

bool wantsHelp(const std::vector<std::string_view>& args) {
  for (auto a : args) {
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}

// The song named on the command line, or the shipped song.
struct SongSource {
  std::string name;  // for messages
  std::string stem;  // for default output names
  std::optional<synth::SongTables> loaded;  // empty for the shipped song

  // Made on demand: the loaded tables move with the SongSource.
  synth::SongView view() const { return loaded ? loaded->view() : song::shippedSong(); }
};

std::optional<SongSource> openSong(const std::optional<std::string>& path) {
  SongSource source;
  if (!path) {
    source.name = kShippedName;
    source.stem = "shipped";
    return source;
  }
  synth::LoadedSong loaded = synth::loadSongImage(*path);
  if (!loaded.song) {
    for (const auto& e : loaded.errors) std::fprintf(stderr, "%s\n", e.c_str());
    return std::nullopt;
  }
  source.name = *path;
  source.stem = std::filesystem::path(*path).stem().string();
  source.loaded = std::move(loaded.song);
  return source;
}

// ---------------------------------------------------------------------------
// check

int runCheck(const std::vector<std::string_view>& args) {
  if (wantsHelp(args)) {
    std::fputs(kCheckHelp, stdout);
    return kExitOk;
  }
  std::optional<std::string> path;
  for (auto a : args) {
    if (a.starts_with("-")) return usageError("check: unknown option " + std::string(a), kCheckHelp);
    if (path) return usageError("check: more than one song given", kCheckHelp);
    path = std::string(a);
  }
  std::optional<SongSource> source = openSong(path);
  if (!source) return kExitFailed;
  const std::string& name = source->name;
  const synth::SongView view = source->view();
  synth::SongSummary summary;
  std::vector<std::string> errors = synth::validateSong(view, name, &summary);
  if (!errors.empty()) {
    for (const auto& e : errors) std::fprintf(stderr, "%s\n", e.c_str());
    return kExitFailed;
  }

  std::printf("%s: valid song\n", name.c_str());
  std::printf("  patterns          %d\n", summary.patternCount);
  std::printf("  CommandStream     %u bytes\n", summary.commandBytes);
  std::printf("  ParameterStream   %u bytes\n", summary.parameterBytes);
  std::printf("  delay lines       %d per sample (pool holds %d)\n", summary.delayLinesPerSample,
              synth::kMaxDelayLinesPerSample);
  std::printf("  deepest stack     %d values\n", summary.deepestStack);
  std::printf("  programs\n");
  for (size_t p = 0; p < summary.programs.size(); ++p) {
    const auto& units = summary.programs[p].units;
    std::string kinds;
    for (const auto& u : units) {
      if (!kinds.empty()) kinds += ' ';
      kinds += synth::UnitHandlerTable[u.opcode].name;
    }
    std::printf("    %-9s %2zu units  %s\n", synth::programName(static_cast<int>(p)).c_str(),
                units.size(), kinds.c_str());
  }
  return kExitOk;
}

// ---------------------------------------------------------------------------
// render

enum class Format { kWav, kF32 };

#ifdef SYNTH_HAVE_SNDFILE
// Writes the frames through libsndfile into the temporary file.
bool writeWav(tools::AtomicFile& file, const std::vector<synth::Frame>& frames) {
  SF_INFO info{};
  info.samplerate = synth::kSampleRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* sf = sf_open_fd(file.fd(), SFM_WRITE, &info, SF_FALSE);
  if (sf == nullptr) {
    file.fail(file.temporaryPath() + ": " + sf_strerror(nullptr));
    return false;
  }
  auto count = static_cast<sf_count_t>(frames.size());
  sf_count_t written = sf_writef_float(sf, &frames[0].left, count);
  std::string error = written == count ? "" : sf_strerror(sf);
  if (sf_close(sf) != 0 && error.empty()) error = "cannot finish the WAV file";
  if (!error.empty()) {
    file.fail(file.temporaryPath() + ": write failed: " + error);
    return false;
  }
  return true;
}
#else
bool writeWav(tools::AtomicFile& file, const std::vector<synth::Frame>&) {
  file.fail("WAV output is unavailable in this build");
  return false;
}
#endif

bool writeF32(tools::AtomicFile& file, const std::vector<synth::Frame>& frames) {
  static_assert(std::endian::native == std::endian::little, "f32 output assumes little-endian");
  return file.write(frames.data(), frames.size() * sizeof(synth::Frame));
}

void drawProgress(uint32_t done, uint32_t total) {
  constexpr int kWidth = 40;
  int filled = static_cast<int>(static_cast<uint64_t>(done) * kWidth / total);
  std::fprintf(stderr, "\r  [%.*s%*s] %3u%%", filled, "########################################",
               kWidth - filled, "", static_cast<unsigned>(uint64_t{done} * 100 / total));
  std::fflush(stderr);
}

int runRender(const std::vector<std::string_view>& args) {
  if (wantsHelp(args)) {
    std::fputs(kRenderHelp, stdout);
    return kExitOk;
  }
  std::optional<std::string> songPath;
  std::optional<std::string> outPath;
  uint32_t frameCount = synth::kSongFrameCount;
  Format format = kWavAvailable ? Format::kWav : Format::kF32;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return std::string(args[++i]);
    };
    if (a == "-o") {
      outPath = value();
      if (!outPath) return usageError("render: -o needs a file name", kRenderHelp);
    } else if (a == "--frames") {
      auto v = value();
      char* end = nullptr;
      unsigned long n = v ? std::strtoul(v->c_str(), &end, 10) : 0;
      if (!v || v->empty() || *end != '\0' || n < 1 || n > synth::kSongFrameCount) {
        return usageError("render: --frames needs a count from 1 to 2506752", kRenderHelp);
      }
      frameCount = static_cast<uint32_t>(n);
    } else if (a == "--format") {
      auto v = value();
      if (v == "wav") {
        format = Format::kWav;
      } else if (v == "f32") {
        format = Format::kF32;
      } else {
        return usageError("render: --format takes wav or f32", kRenderHelp);
      }
    } else if (a.starts_with("-")) {
      return usageError("render: unknown option " + std::string(a), kRenderHelp);
    } else if (songPath) {
      return usageError("render: more than one song given", kRenderHelp);
    } else {
      songPath = std::string(a);
    }
  }

  if (format == Format::kWav && !kWavAvailable) {
    std::fprintf(stderr,
                 "synth: render: WAV output is unavailable in this build (no libsndfile); "
                 "use --format f32\n");
    return kExitFailed;
  }

  std::optional<SongSource> source = openSong(songPath);
  if (!source) return kExitFailed;
  if (!outPath) outPath = source->stem + (format == Format::kWav ? ".wav" : ".f32");

  // Open the output first, so a bad path fails before a long render.
  tools::AtomicFile file(*outPath);
  if (!file.ok()) {
    std::fprintf(stderr, "synth: %s\n", file.error().c_str());
    return kExitFailed;
  }

  const synth::SongView view = source->view();
  std::vector<synth::Frame> frames(frameCount);
  synth::EnginePtr engine = synth::makeEngine();
  synth::RenderProgress progress{};
  synth::RenderStats stats{};
  auto started = std::chrono::steady_clock::now();
  std::thread renderer([&] {
    synth::renderFrames(*engine, view, frames.data(), frameCount, &progress, &stats);
  });
  bool showProgress = isatty(STDERR_FILENO) != 0;
  for (;;) {
    uint32_t done = progress.framesWritten.load(std::memory_order_acquire);
    if (showProgress) drawProgress(done, frameCount);
    if (done == frameCount) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(showProgress ? 50 : 5));
  }
  renderer.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (showProgress) std::fputc('\n', stderr);

  bool written = format == Format::kWav ? writeWav(file, frames) : writeF32(file, frames);
  if (!written || !file.commit()) {
    std::fprintf(stderr, "synth: %s\n", file.error().c_str());
    return kExitFailed;
  }

  double duration = static_cast<double>(frameCount) / synth::kSampleRate;
  std::printf("%s -> %s\n", source->name.c_str(), outPath->c_str());
  std::printf("  frames        %u (%.2f s at 44,100 Hz)\n", frameCount, duration);
  std::printf("  render time   %.3f s (%.1f x real time)\n", seconds, duration / seconds);
  std::printf("  left          peak %.4f, %u samples clamped\n", stats.peakLeft, stats.clampedLeft);
  std::printf("  right         peak %.4f, %u samples clamped\n", stats.peakRight,
              stats.clampedRight);
  return kExitOk;
}

// ---------------------------------------------------------------------------
// export

int runExport(const std::vector<std::string_view>& args) {
  if (wantsHelp(args)) {
    std::fputs(kExportHelp, stdout);
    return kExitOk;
  }
  std::string outPath = "shipped.syn";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      outPath = std::string(args[++i]);
    } else {
      return usageError("export: unexpected argument " + std::string(args[i]), kExportHelp);
    }
  }
  std::vector<uint8_t> image = synth::encodeSongImage(song::shippedSong());
  tools::AtomicFile file(outPath);
  if (!file.write(image.data(), image.size()) || !file.commit()) {
    std::fprintf(stderr, "synth: %s\n", file.error().c_str());
    return kExitFailed;
  }
  std::printf("%s: %zu bytes\n", outPath.c_str(), image.size());
  return kExitOk;
}

// ---------------------------------------------------------------------------
// bench

int runBench(const std::vector<std::string_view>& args) {
  if (wantsHelp(args)) {
    std::fputs(kBenchHelp, stdout);
    return kExitOk;
  }
  std::optional<std::string> songPath;
  int runs = 5;
  bool reference = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view a = args[i];
    if (a == "--runs") {
      char* end = nullptr;
      long n = i + 1 < args.size() ? std::strtol(std::string(args[++i]).c_str(), &end, 10) : 0;
      if (end == nullptr || *end != '\0' || n < 1 || n > 1000) {
        return usageError("bench: --runs needs a count from 1 to 1000", kBenchHelp);
      }
      runs = static_cast<int>(n);
    } else if (a == "--reference") {
      reference = true;
    } else if (a.starts_with("-")) {
      return usageError("bench: unknown option " + std::string(a), kBenchHelp);
    } else if (songPath) {
      return usageError("bench: more than one song given", kBenchHelp);
    } else {
      songPath = std::string(a);
    }
  }
  std::optional<SongSource> source = openSong(songPath);
  if (!source) return kExitFailed;
  return tools::runBenchmark(source->view(), source->name, runs, reference) == 0 ? kExitOk
                                                                               : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  tools::removeTemporaryFilesOnSignal();
  std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.empty()) return usageError("no command given", kToolHelp);
  std::string_view command = args.front();
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kToolHelp, stdout);
    return kExitOk;
  }
  if (command == "render") return runRender(args);
  if (command == "check") return runCheck(args);
  if (command == "export") return runExport(args);
  if (command == "bench") return runBench(args);
  return usageError("unknown command '" + std::string(command) + "'", kToolHelp);
}
