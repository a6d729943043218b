#include "host/demo.h"

#include <cstdlib>
#include <string>

#include "host/shader.h"

namespace host {
namespace {

// The few GL names the demo uses. GL headers are not needed for them, and
// the ones some systems ship stop long before separable programs.
using GLenum = uint32_t;
using GLuint = uint32_t;
using GLint = int32_t;
using GLsizei = int32_t;
constexpr GLenum kGlFragmentShader = 0x8B30;
constexpr GLenum kGlLinkStatus = 0x8B82;

using CreateShaderProgramv = GLuint(HOST_GLAPI*)(GLenum type, GLsizei count,
                                                 const char* const* strings);
using UseProgram = void(HOST_GLAPI*)(GLuint program);
using GetProgramiv = void(HOST_GLAPI*)(GLuint program, GLenum name, GLint* value);
using GetProgramInfoLog = void(HOST_GLAPI*)(GLuint program, GLsizei size, GLsizei* length,
                                            char* log);
using GetUniformLocation = GLint(HOST_GLAPI*)(GLuint program, const char* name);
using Uniform1i = void(HOST_GLAPI*)(GLint location, GLint value);

template <typename Function>
Function glFunction(Platform& platform, const char* name) {
  return reinterpret_cast<Function>(platform.glProc(name));
}

// Calls through the interface are not known to the compiler not to return.
[[noreturn]] void endProcess(Platform& platform, int code) {
  platform.exitProcess(code);
  std::abort();
}

[[noreturn]] void fail(Platform& platform, const char* step, const std::string& reason) {
  std::string line = "demo: cannot ";
  line += step;
  line += ": ";
  line += reason;
  platform.report(line.c_str());
  endProcess(platform, 1);
}

// The program's info log on one line: compilers write one message per line.
std::string programLog(Platform& platform, GLuint program) {
  auto getProgramInfoLog = glFunction<GetProgramInfoLog>(platform, "glGetProgramInfoLog");
  if (getProgramInfoLog == nullptr) return "no info log";
  char log[1024] = {};
  GLsizei length = 0;
  getProgramInfoLog(program, sizeof log, &length, log);
  std::string text(log, length > 0 ? static_cast<size_t>(length) : 0);
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text.empty() ? "empty info log" : text;
}

// Builds the one fragment-only program from the shader text and returns its
// name; ends the process if the GL does not accept it.
GLuint buildProgram(Platform& platform) {
  constexpr const char* kStep = "build the shader program";
  auto createShaderProgramv = glFunction<CreateShaderProgramv>(platform, "glCreateShaderProgramv");
  auto getProgramiv = glFunction<GetProgramiv>(platform, "glGetProgramiv");
  if (createShaderProgramv == nullptr || getProgramiv == nullptr) {
    fail(platform, kStep, "the GL context lacks glCreateShaderProgramv or glGetProgramiv");
  }
  const char* const sources[1] = {kShaderText};
  GLuint program = createShaderProgramv(kGlFragmentShader, 1, sources);
  if (program == 0) fail(platform, kStep, "glCreateShaderProgramv returned no program");
  GLint linked = 0;
  getProgramiv(program, kGlLinkStatus, &linked);
  if (linked == 0) fail(platform, kStep, programLog(platform, program));
  return program;
}

}  // namespace

void runDemo(Platform& platform, const Soundtrack& soundtrack) {
  // Start-up. The order matters beyond tidiness: the render thread must be
  // running before playback starts so that it stays ahead of it, and the
  // frame clock starts only once playback has been started.
  if (!platform.openWindow(kWindowWidth, kWindowHeight)) {
    fail(platform, "open the window", platform.failureReason());
  }
  if (!platform.createGlContext()) {
    fail(platform, "create the GL context", platform.failureReason());
  }
  platform.hideCursor();
  const GLuint program = buildProgram(platform);
  auto useProgram = glFunction<UseProgram>(platform, "glUseProgram");
  if (useProgram == nullptr) fail(platform, "use the shader program", "no glUseProgram");
  useProgram(program);
  platform.startThread(soundtrack.render, soundtrack.frames);
  if (!platform.playAudio(soundtrack.frames, soundtrack.frameCount, soundtrack.progress)) {
    std::string line = "demo: no sound: ";
    line += platform.failureReason();
    line += "; running without it";
    platform.report(line.c_str());
  }
  const uint32_t start = platform.milliseconds();

  // The frame loop. Every frame is drawn and shown before the exit tests,
  // and the time limit is tested on the elapsed time the frame drew with.
  // The uniform's entry points are looked up anew each frame; a location of
  // -1 (the GL may drop `mm` as unused) makes the set a no-op.
  for (;;) {
    // Modulo 2^32 and then signed, so a wrap of the clock is harmless.
    const auto elapsed = static_cast<int32_t>(platform.milliseconds() - start);
    const GLint location =
        glFunction<GetUniformLocation>(platform, "glGetUniformLocation")(program, "mm");
    glFunction<Uniform1i>(platform, "glUniform1i")(location, elapsed);
    platform.glRects(-1, -1, 1, 1);
    platform.swapBuffers();
    if (platform.escapePressed()) break;
    if (!(elapsed < kRunMilliseconds)) break;
  }
  endProcess(platform, 0);
}

}  // namespace host
