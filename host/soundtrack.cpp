#include "host/soundtrack.h"

#include "song/shipped_song.h"
#include "synth/synth.h"

namespace host {
namespace {

// Static and zero-initialised: the engine (about 256 MiB, nearly all delay
// lines) and the RenderBuffer sit in zeroed memory that the system maps only
// as the render touches it, and both outlive any thread that uses them.
synth::Engine engine;
synth::Frame renderBuffer[synth::kSongFrameCount];
synth::RenderProgress renderProgress;

void renderShippedSong(void* firstFrame) {
  synth::renderSong(engine, song::shippedSong(), static_cast<synth::Frame*>(firstFrame),
                    &renderProgress);
}

}  // namespace

Soundtrack shippedSoundtrack() {
  return {renderBuffer, synth::kSongFrameCount, &renderProgress, renderShippedSong};
}

}  // namespace host
