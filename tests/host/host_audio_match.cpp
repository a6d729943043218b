// host_audio_match CAPTURE MIN_SECONDS
//
// Checks a recording of the demo's sound output (raw little-endian float32
// stereo at 44,100 Hz) against the shipped song rendered here: after the
// silence before playback, the recorded frames must equal a run of the song's
// frames bit for bit, for at least MIN_SECONDS.
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

  const auto captureStart = static_cast<size_t>(
      std::find_if_not(capture.begin(), capture.end(), silent) - capture.begin());
  if (captureStart == capture.size()) {
    std::fprintf(stderr, "the recording of %zu frames is all silence\n", capture.size());
    return 1;
  }

  const auto renderCount = static_cast<uint32_t>(
      std::min<size_t>(synth::kSongFrameCount, capture.size() + 10 * synth::kSampleRate));
  std::vector<synth::Frame> song(renderCount);
  synth::EnginePtr engine = synth::makeEngine();
  synth::renderFrames(*engine, song::shippedSong(), song.data(), renderCount);
  // Align on the first recorded sound: the song frame it equals bit for bit.
  // The sound server may start delivering the recording a little after
  // playback has begun, so this need not be the song's first frame.
  const synth::Frame& first = capture[captureStart];
  const auto songStart =
      static_cast<size_t>(std::find_if(song.begin(), song.end(),
                                       [&](const synth::Frame& frame) {
                                         return !silent(frame) && identical(frame, first);
                                       }) -
                          song.begin());
  if (songStart == song.size()) {
    std::fprintf(
        stderr, "the first recorded sound (frame %zu: %08x %08x) is in no frame of the song\n",
        captureStart, std::bit_cast<uint32_t>(first.left), std::bit_cast<uint32_t>(first.right));
    return 1;
  }

  const size_t count = std::min(capture.size() - captureStart, song.size() - songStart);
  for (size_t k = 0; k < count; ++k) {
    const synth::Frame& got = capture[captureStart + k];
    const synth::Frame& want = song[songStart + k];
    if (!identical(got, want)) {
      std::fprintf(stderr,
                   "frame %zu of the song (recording frame %zu) differs: recorded %08x %08x, "
                   "rendered %08x %08x\n",
                   songStart + k, captureStart + k, std::bit_cast<uint32_t>(got.left),
                   std::bit_cast<uint32_t>(got.right), std::bit_cast<uint32_t>(want.left),
                   std::bit_cast<uint32_t>(want.right));
      return 1;
    }
  }
  if (count < minFrames) {
    std::fprintf(stderr, "only %zu frames recorded after the silence, %zu wanted\n", count,
                 minFrames);
    return 1;
  }
  std::printf("%zu frames match bit for bit (song from frame %zu, recording from frame %zu)\n",
              count, songStart, captureStart);
  return 0;
}
