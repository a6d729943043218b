// The platform on top of SDL2: X11 or Wayland window, GL through SDL's
// loader, sound through SDL's audio device callback.
#include <SDL.h>
#include <SDL_opengl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "host/platform.h"
#include "host/playback.h"

namespace host {
namespace {

// Frames per device request: small, so that the device reads little ahead
// of what it is playing.
constexpr int kDeviceFrames = 2048;

// The render's lead before playback begins: a few device requests, which
// the first requests, coming a millisecond or two after the render's start,
// could otherwise overtake.
constexpr uint32_t kStartLead = 8 * kDeviceFrames;

void fillAudio(void* userdata, Uint8* stream, int length) {
  static_cast<BufferPlayback*>(userdata)->fill(
      reinterpret_cast<synth::Frame*>(stream),
      static_cast<uint32_t>(length) / sizeof(synth::Frame));
}

// Keeps stderr quiet while in scope. The sound libraries that SDL probes one
// after another print their own complaints about missing devices; when none
// opens, the host says so once, with the reason SDL gives.
class QuietStderr {
 public:
  QuietStderr() : saved_(dup(STDERR_FILENO)) {
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_;
};

bool separableProgramsOffered() {
  if (SDL_GL_ExtensionSupported("GL_ARB_separate_shader_objects")) return true;
  // Core since 4.1, where some drivers stop listing the extension.
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  int major = 0;
  int minor = 0;
  if (version == nullptr || std::sscanf(version, "%d.%d", &major, &minor) != 2) return false;
  return major > 4 || (major == 4 && minor >= 1);
}

class SdlPlatform final : public Platform {
 public:
  bool openWindow(int width, int height) override {
    // The demo ends only through Escape, its time limit or a signal's
    // default action: SDL must not turn SIGINT and SIGTERM into quit events
    // that nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    int status = 0;
    {
      // Window systems that are not there complain on stderr as SDL probes
      // them; the one reason that counts is reported by the caller.
      QuietStderr quiet;
      status = SDL_Init(SDL_INIT_VIDEO);
    }
    if (status != 0) return failed(std::string("no display: ") + SDL_GetError());
    // Without a window system SDL falls back to drivers that draw where
    // nobody sees it; the demo has nothing to show there.
    const std::string driver = SDL_GetCurrentVideoDriver();
    if (driver == "offscreen" || driver == "dummy") {
      const bool unset =
          std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr;
      return failed(std::string("no display: ") +
                    (unset ? "neither DISPLAY nor WAYLAND_DISPLAY is set"
                           : "no window system answers at DISPLAY or WAYLAND_DISPLAY") +
                    ", and SDL found only its " + driver + " video driver");
    }
    // Double-buffered RGBA with no minimum bit counts: any such format will
    // do. A compatibility profile keeps glRects and the fixed-function
    // vertex stage that the fragment-only program relies on.
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    window_ = SDL_CreateWindow("", 0, 0, width, height,
                               SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_SHOWN);
    if (window_ == nullptr) return failed(SDL_GetError());
    return true;
  }

  bool createGlContext() override {
    SDL_GLContext context = SDL_GL_CreateContext(window_);
    if (context == nullptr) return failed(SDL_GetError());
    if (SDL_GL_MakeCurrent(window_, context) != 0) return failed(SDL_GetError());
    if (!separableProgramsOffered()) {
      const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
      return failed(std::string("the GL context (") + (version ? version : "unknown version") +
                    ") offers no separable programs (glCreateShaderProgramv)");
    }
    return true;
  }

  void hideCursor() override { SDL_ShowCursor(SDL_DISABLE); }

  GlProc glProc(const char* name) override {
    return reinterpret_cast<GlProc>(SDL_GL_GetProcAddress(name));
  }

  void glRects(int16_t x1, int16_t y1, int16_t x2, int16_t y2) override {
    ::glRects(x1, y1, x2, y2);
  }

  void swapBuffers() override { SDL_GL_SwapWindow(window_); }

  void startThread(void (*routine)(void*), void* argument) override {
    std::thread(routine, argument).detach();
  }

  bool playAudio(const synth::Frame* frames, uint32_t frameCount,
                 const synth::RenderProgress* progress) override {
    QuietStderr quiet;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return failed(SDL_GetError());
    playback_ = {frames, frameCount, progress, kStartLead};
    SDL_AudioSpec want{};
    want.freq = synth::kSampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = kDeviceFrames;
    want.callback = fillAudio;
    want.userdata = &playback_;
    // No changes allowed: if the device wants another format, SDL converts.
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (device == 0) return failed(SDL_GetError());
    SDL_PauseAudioDevice(device, 0);
    return true;
  }

  uint32_t milliseconds() override { return SDL_GetTicks(); }

  bool escapePressed() override {
    // The queue also keeps the window alive. Draining it here latches every
    // Escape press since the last query, even one already released again.
    bool pressed = false;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      if (event.type == SDL_KEYDOWN && event.key.keysym.scancode == SDL_SCANCODE_ESCAPE) {
        pressed = true;
      }
    }
    return pressed || SDL_GetKeyboardState(nullptr)[SDL_SCANCODE_ESCAPE] != 0;
  }

  const char* failureReason() override { return reason_.c_str(); }

  void report(const char* line) override { std::fprintf(stderr, "%s\n", line); }

  [[noreturn]] void exitProcess(int code) override {
    // No exit handlers, no destructors: the render thread may still be
    // writing, and the audio thread reading, static data.
    std::_Exit(code);
  }

 private:
  bool failed(std::string reason) {
    for (char& c : reason) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    reason_ = std::move(reason);
    return false;
  }

  SDL_Window* window_ = nullptr;
  BufferPlayback playback_{};
  std::string reason_;
};

}  // namespace

Platform& systemPlatform() {
  static SdlPlatform platform;
  return platform;
}

}  // namespace host
