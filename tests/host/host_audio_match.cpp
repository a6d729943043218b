// host_audio_match CAPTURE MIN_SECONDS
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
// Exit code 0 on a match, 1 on a mismatch or too short a recording, 2 on bad
// usage.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: host_audio_match CAPTURE MIN_SECONDS\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // A recording stopped mid-frame leaves a partial frame at the end.
  std::vector<synth::Frame> capture(bytes.size() / sizeof(synth::Frame));
  std::copy_n(bytes.data(), capture.size() * sizeof(synth::Frame),
              reinterpret_cast<char*>(capture.data()));
  const auto minFrames = static_cast<size_t>(std::atof(argv[2]) * synth::kSampleRate);

  const auto renderCount =
      static_cast<uint32_t>(std::min<size_t>(synth::kSongFrameCount, capture.size()));
  std::vector<synth::Frame> song(renderCount);
  synth::EnginePtr engine = synth::makeEngine();
  synth::renderFrames(*engine, song::shippedSong(), song.data(), renderCount);

  // Playback starts with the song's first frame, so the first sound in the
  // recording is the song's first sound.
  auto firstSound = [](const std::vector<synth::Frame>& frames) {
    return static_cast<size_t>(std::find_if_not(frames.begin(), frames.end(), silent) -
                               frames.begin());
  };
  size_t c = firstSound(capture);
  size_t s = firstSound(song);
  if (c == capture.size()) {
    std::fprintf(stderr, "the recording of %zu frames is all silence\n", capture.size());
    return 1;
  }

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
