// synth bench: how fast a song renders, and how far the render stays ahead
// of a playback that starts with it.
#include "tools/bench.h"

#ifdef _WIN32
#ifndef NOMINMAX  // the C++ library may have defined it
#define NOMINMAX
#endif
#include <windows.h>
// psapi.h needs windows.h before it.
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace tools {
namespace {

using Clock = std::chrono::steady_clock;

// Frames are timed in blocks; the lead of a block is the time playback
// reaches its first frame minus the time its last frame was written.
constexpr uint32_t kLeadBlock = 256;
constexpr uint32_t kFirstFrames = 4096;

struct RunFigures {
  double seconds;
  double firstFramesMs;
  double smallestLeadMs;
};

RunFigures timeOneRender(const synth::SongView& song, synth::RenderPath path,
                         std::vector<synth::Frame>& out) {
  auto step = path == synth::RenderPath::kFast ? synth::renderSampleFast : synth::renderSample;
  synth::EnginePtr engine = synth::makeEngine();
  RunFigures figures{0, 0, 1e300};
  const auto start = Clock::now();
  synth::startEngine(*engine, song);
  for (uint32_t n = 0; n < synth::kSongFrameCount; ++n) {
    out[n] = step(*engine, static_cast<int>(n / synth::kSamplesPerTick),
                  static_cast<int>(n % synth::kSamplesPerTick));
    if ((n + 1) % kLeadBlock == 0 || n + 1 == synth::kSongFrameCount) {
      double written = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      uint32_t blockStart = n / kLeadBlock * kLeadBlock;
      double needed = 1000.0 * blockStart / synth::kSampleRate;
      figures.smallestLeadMs = std::min(figures.smallestLeadMs, needed - written);
      if (n + 1 == kFirstFrames) figures.firstFramesMs = written;
    }
  }
  figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return figures;
}

struct Spread {
  double min, median, max;
};

Spread spread(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {values.front(), median, values.back()};
}

void printRow(const char* name, const char* unit, Spread s, int decimals) {
  std::printf("  %-24s %12.*f %12.*f %12.*f  %s\n", name, decimals, s.min, decimals, s.median,
              decimals, s.max, unit);
}

void printFigures(const char* title, const std::vector<RunFigures>& runs) {
  std::vector<double> seconds, fps, realTime, first, lead;
  const double songSeconds = static_cast<double>(synth::kSongFrameCount) / synth::kSampleRate;
  for (const RunFigures& r : runs) {
    seconds.push_back(r.seconds);
    fps.push_back(synth::kSongFrameCount / r.seconds);
    realTime.push_back(songSeconds / r.seconds);
    first.push_back(r.firstFramesMs);
    lead.push_back(r.smallestLeadMs);
  }
  std::printf("%s (%zu runs)%*s %12s %12s %12s\n", title, runs.size(),
              static_cast<int>(19 - std::string(title).size()), "", "min", "median", "max");
  printRow("render time", "s", spread(seconds), 3);
  printRow("frames per second", "", spread(fps), 0);
  printRow("real-time factor", "x", spread(realTime), 1);
  printRow("first 4,096 frames", "ms", spread(first), 3);
  printRow("smallest lead", "ms", spread(lead), 3);
}

long peakResidentKiB() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
#endif
}

}  // namespace

int runBenchmark(const synth::SongView& song, const std::string& name, int runs,
                 bool withReference) {
  std::vector<synth::Frame> fastFrames(synth::kSongFrameCount);
  std::vector<synth::Frame> referenceFrames;
  std::vector<RunFigures> fast, reference;
  for (int i = 0; i < runs; ++i) {
    fast.push_back(timeOneRender(song, synth::RenderPath::kFast, fastFrames));
    if (withReference) {
      referenceFrames.resize(synth::kSongFrameCount);
      reference.push_back(timeOneRender(song, synth::RenderPath::kReference, referenceFrames));
    }
  }
  std::printf("%s: %u frames, %.2f s of audio\n\n", name.c_str(), synth::kSongFrameCount,
              static_cast<double>(synth::kSongFrameCount) / synth::kSampleRate);
  printFigures("fast path", fast);
  if (withReference) {
    std::printf("\n");
    printFigures("reference path", reference);
    std::vector<double> ratios;
    for (int i = 0; i < runs; ++i) ratios.push_back(reference[i].seconds / fast[i].seconds);
    std::printf("\n");
    printRow("reference / fast", "x", spread(ratios), 2);
    bool same = std::equal(fastFrames.begin(), fastFrames.end(), referenceFrames.begin(),
                           [](const synth::Frame& a, const synth::Frame& b) {
                             return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
                           });
    std::printf("  %-24s %s\n", "frames", same ? "identical" : "DIFFER");
    if (!same) return 1;
  }
  std::printf("\n  %-24s %12ld KiB\n", "peak resident memory", peakResidentKiB());
  return 0;
}

}  // namespace tools
