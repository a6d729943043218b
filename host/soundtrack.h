// The shipped song's RenderBuffer and the routine that renders it.
#pragma once

#include "host/demo.h"

namespace host {

// The one static RenderBuffer of the shipped song, zero until rendered, and
// its render routine. There is one engine, so start its render only once.
Soundtrack shippedSoundtrack();

}  // namespace host
