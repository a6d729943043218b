// The text of the demo's one fragment shader.
#pragma once

namespace host {

// One line of printable ASCII, NUL-terminated, without a version line, so
// the GL reads it as its oldest GLSL: every float literal carries its point.
// It declares the int uniform `mm` (elapsed milliseconds, set by the frame
// loop), `v` (the window's size), `m` (the time in seconds) and `main`, which
// paints every pixel pure green. Beside them it carries the scene library
// that `main` does not call: `pp` (the ray-marched scene), `fc` and `fr` (a
// tone curve) and `cc` (colour correction).
extern const char kShaderText[];

}  // namespace host
