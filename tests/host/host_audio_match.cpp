// host_audio_match CAPTURE MIN_SECONDS [--reference FILE] [--allow-skips]
//
// Checks a recording of the demo's sound output (raw little-endian float32
// stereo at 44,100 Hz) against the shipped song rendered here. After the
// silence before playback, the recording must hold the song from its first
// sound on, every frame bit for bit and in order, none missing, for at least
// MIN_SECONDS. The one thing allowed in between is silence that the sound
// server inserts when its client falls behind (an underrun): whole frames
// of zeros between two song frames that follow each other. A frame that the
// demo failed to play (replaced by silence, skipped or altered) fails.
//
//   --reference FILE  compare with these raw float32 frames instead of the
//                     song rendered here: another build's own render
//   --allow-skips     for a sound path that keeps time with its clock when it
//                     falls behind (Wine's mixer does): it also drops frames,
//                     so after each underrun the song may resume up to 5 s
//                     further on, and the recording may start after the
//                     song's first sound. Every recorded frame that is not
//                     inserted silence must still be a song frame, bit for
//                     bit and in the song's order; MIN_SECONDS counts the
//                     frames that match.
//
// Exit code 0 on a match, 1 on a mismatch or too short a recording, 2 on bad
// usage.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "song/shipped_song.h"
#include "synth/synth.h"

namespace {

bool silent(const synth::Frame& frame) {
  return std::bit_cast<uint32_t>(frame.left) == 0 && std::bit_cast<uint32_t>(frame.right) == 0;
}

bool identical(const synth::Frame& a, const synth::Frame& b) {
  return std::bit_cast<uint32_t>(a.left) == std::bit_cast<uint32_t>(b.left) &&
         std::bit_cast<uint32_t>(a.right) == std::bit_cast<uint32_t>(b.right);
}

// Server underruns may add this much silence in all before the check fails.
constexpr size_t kMaxInsertedFrames = synth::kSampleRate;

// With --allow-skips, the most of the song that one underrun may skip.
constexpr size_t kMaxSkippedFrames = 5 * synth::kSampleRate;

size_t firstSound(const std::vector<synth::Frame>& frames) {
  return static_cast<size_t>(std::find_if_not(frames.begin(), frames.end(), silent) -
                             frames.begin());
}

// Whole frames of a raw float32 stereo file; a recording stopped mid-frame
// leaves a partial frame at the end.
std::optional<std::vector<synth::Frame>> readFrames(const char* path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<synth::Frame> frames(bytes.size() / sizeof(synth::Frame));
  std::copy_n(bytes.data(), frames.size() * sizeof(synth::Frame),
              reinterpret_cast<char*>(frames.data()));
  return frames;
}

int matchInsertedSilence(const std::vector<synth::Frame>& capture,
                         const std::vector<synth::Frame>& song, size_t minFrames) {
  // Playback starts with the song's first frame, so the first sound in the
  // recording is the song's first sound.
  size_t c = firstSound(capture);
  size_t s = firstSound(song);

  // Silence counts as inserted once the song resumes after it; silence at
  // the end of the recording may be an underrun still in progress.
  size_t inserted = 0;
  size_t gaps = 0;
  size_t pendingSilence = 0;
  for (; c < capture.size() && s < song.size(); ++c) {
    if (identical(capture[c], song[s])) {
      if (pendingSilence > 0) {
        inserted += pendingSilence;
        ++gaps;
        pendingSilence = 0;
      }
      ++s;
    } else if (silent(capture[c])) {
      ++pendingSilence;
    } else {
      std::fprintf(
          stderr, "recording frame %zu is %08x %08x where song frame %zu, %08x %08x, was due\n", c,
          std::bit_cast<uint32_t>(capture[c].left), std::bit_cast<uint32_t>(capture[c].right), s,
          std::bit_cast<uint32_t>(song[s].left), std::bit_cast<uint32_t>(song[s].right));
      return 1;
    }
  }
  if (inserted > kMaxInsertedFrames) {
    std::fprintf(stderr, "the sound server inserted %zu frames of silence in %zu places\n",
                 inserted, gaps);
    return 1;
  }
  if (s < minFrames) {
    std::fprintf(stderr, "only %zu song frames recorded, %zu wanted\n", s, minFrames);
    return 1;
  }
  std::printf(
      "song frames 0 to %zu recorded bit for bit (%zu frames of silence inserted by the "
      "sound server in %zu places)\n",
      s, inserted, gaps);
  return 0;
}

// Where the recorded sound from frame `at` on continues in the song: the
// first song frame in [from, from + maxSkip] from which the next recorded
// frames (up to 64, up to the recording's next silent frame) are equal.
std::optional<size_t> resumption(const std::vector<synth::Frame>& capture, size_t at,
                                 const std::vector<synth::Frame>& song, size_t from,
                                 size_t maxSkip) {
  constexpr size_t kProbe = 64;
  size_t length = 0;
  while (length < kProbe && at + length < capture.size() && !silent(capture[at + length])) {
    ++length;
  }
  if (from + length > song.size()) return std::nullopt;
  const size_t last = std::min(from + maxSkip, song.size() - length);
  const auto probe = capture.begin() + static_cast<ptrdiff_t>(at);
  for (size_t q = from; q <= last; ++q) {
    if (std::equal(probe, probe + static_cast<ptrdiff_t>(length),
                   song.begin() + static_cast<ptrdiff_t>(q), identical)) {
      return q;
    }
  }
  return std::nullopt;
}

// Follows the recording through the song. Where the two fall out of step,
// the sound path ran dry: the recording may hold silence for a while, and
// the song resumes at most kMaxSkippedFrames further on. A recorded frame
// that continues no run of the song there is a mismatch.
int matchWithSkips(const std::vector<synth::Frame>& capture, const std::vector<synth::Frame>& song,
                   size_t minFrames) {
  const size_t captureStart = firstSound(capture);
  const std::optional<size_t> songStart = resumption(capture, captureStart, song, 0, song.size());
  if (!songStart) {
    std::fprintf(stderr,
                 "the first recorded sound (recording frame %zu) is in no run of the song\n",
                 captureStart);
    return 1;
  }
  size_t c = captureStart;
  size_t s = *songStart;
  size_t matched = 0, underruns = 0, inserted = 0, skipped = 0;
  while (c < capture.size()) {
    if (s < song.size() && identical(capture[c], song[s])) {
      ++c, ++s, ++matched;
      continue;
    }
    const size_t outOfStep = c;
    while (c < capture.size() && silent(capture[c])) ++c;
    if (c == capture.size()) break;  // the recording ends in silence
    const std::optional<size_t> next = resumption(capture, c, song, s, kMaxSkippedFrames);
    if (!next) {
      std::fprintf(stderr, "recording frame %zu, %08x %08x, continues no run of the song", c,
                   std::bit_cast<uint32_t>(capture[c].left),
                   std::bit_cast<uint32_t>(capture[c].right));
      if (outOfStep == c && s < song.size()) {
        std::fprintf(stderr, " (song frame %zu, %08x %08x, was due)", s,
                     std::bit_cast<uint32_t>(song[s].left), std::bit_cast<uint32_t>(song[s].right));
      }
      std::fprintf(stderr, " within 5 s after song frame %zu\n", s);
      return 1;
    }
    ++underruns;
    inserted += c - outOfStep;
    skipped += *next - s;
    s = *next;
  }
  if (matched < minFrames) {
    std::fprintf(stderr, "only %zu recorded frames match the song, %zu wanted\n", matched,
                 minFrames);
    return 1;
  }
  std::printf(
      "%zu recorded frames match song frames %zu to %zu bit for bit; the sound path fell out of "
      "step %zu times: %zu frames of silence inserted, %zu song frames skipped\n",
      matched, *songStart, s, underruns, inserted, skipped);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> positional;
  const char* referencePath = nullptr;
  bool allowSkips = false;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--reference" && a + 1 < argc) {
      referencePath = argv[++a];
    } else if (arg == "--allow-skips") {
      allowSkips = true;
    } else if (arg.starts_with("--")) {
      positional.clear();
      break;
    } else {
      positional.push_back(argv[a]);
    }
  }
  if (positional.size() != 2) {
    std::fprintf(
        stderr, "usage: host_audio_match CAPTURE MIN_SECONDS [--reference FILE] [--allow-skips]\n");
    return 2;
  }
  const std::optional<std::vector<synth::Frame>> recorded = readFrames(positional[0]);
  if (!recorded) {
    std::fprintf(stderr, "cannot read %s\n", positional[0]);
    return 2;
  }
  const std::vector<synth::Frame>& capture = *recorded;
  const auto minFrames = static_cast<size_t>(std::atof(positional[1]) * synth::kSampleRate);
  if (firstSound(capture) == capture.size()) {
    std::fprintf(stderr, "the recording of %zu frames is all silence\n", capture.size());
    return 1;
  }

  std::vector<synth::Frame> song;
  if (referencePath != nullptr) {
    std::optional<std::vector<synth::Frame>> reference = readFrames(referencePath);
    if (!reference || reference->empty()) {
      std::fprintf(stderr, "cannot read %s\n", referencePath);
      return 2;
    }
    song = std::move(*reference);
  } else {
    // Skipped frames take the song further than the recording is long.
    const size_t wanted = capture.size() + (allowSkips ? 10 * synth::kSampleRate : 0);
    song.resize(std::min<size_t>(synth::kSongFrameCount, wanted));
    synth::EnginePtr engine = synth::makeEngine();
    synth::renderFrames(*engine, song::shippedSong(), song.data(),
                        static_cast<uint32_t>(song.size()));
  }
  return allowSkips ? matchWithSkips(capture, song, minFrames)
                    : matchInsertedSilence(capture, song, minFrames);
}
