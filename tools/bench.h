#pragma once

#include <string>

#include "synth/synth.h"

namespace tools {

// Renders the song `runs` times with fresh engine state, prints min, median
// and max of each figure and the peak resident memory. With withReference
// the reference path is timed too, pair by pair, and the frames compared.
// Returns 0, or 1 if the two paths' frames differ.
int runBenchmark(const synth::SongView& song, const std::string& name, int runs,
                 bool withReference);

}  // namespace tools
