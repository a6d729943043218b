// The one song that ships with the demo, as constant tables in the engine's
// formats, read in place.
#pragma once

#include "synth/synth.h"

namespace song {

// A view of the shipped song's five tables (static storage).
const synth::SongView& shippedSong();

}  // namespace song
