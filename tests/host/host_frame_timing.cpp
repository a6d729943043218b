// host_frame_timing: the demo exactly as shipped (same logic, same platform
// layer, same song), with the platform's calls timed. When the demo ends it
// prints, on stdout, the time from entering main to the first frame shown
// and the frame rate over the run.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "host/demo.h"
#include "host/platform.h"
#include "host/soundtrack.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// Forwards every call to the real platform and notes when frames are shown.
class TimedPlatform final : public host::Platform {
 public:
  explicit TimedPlatform(host::Platform& real) : real_(real), entered_(Clock::now()) {}

  bool openWindow(int width, int height) override { return real_.openWindow(width, height); }
  bool createGlContext() override { return real_.createGlContext(); }
  void hideCursor() override { real_.hideCursor(); }
  host::GlProc glProc(const char* name) override { return real_.glProc(name); }
  void glRects(int16_t x1, int16_t y1, int16_t x2, int16_t y2) override {
    real_.glRects(x1, y1, x2, y2);
  }
  void swapBuffers() override {
    real_.swapBuffers();
    const Clock::time_point now = Clock::now();
    if (frames_ == 0) first_ = now;
    last_ = now;
    ++frames_;
  }
  void startThread(void (*routine)(void*), void* argument) override {
    real_.startThread(routine, argument);
  }
  bool playAudio(const synth::Frame* frames, uint32_t frameCount,
                 const synth::RenderProgress* progress) override {
    return real_.playAudio(frames, frameCount, progress);
  }
  uint32_t milliseconds() override { return real_.milliseconds(); }
  bool escapePressed() override { return real_.escapePressed(); }
  const char* failureReason() override { return real_.failureReason(); }
  void report(const char* line) override { real_.report(line); }

  [[noreturn]] void exitProcess(int code) override {
    if (frames_ > 0) {
      const double run = millisecondsBetween(first_, last_);
      std::printf("first frame shown %.1f ms after main was entered\n",
                  millisecondsBetween(entered_, first_));
      std::printf("%ld frames in %.1f ms: %.1f frames per second\n", frames_, run,
                  frames_ > 1 ? (frames_ - 1) * 1000.0 / run : 0.0);
      std::fflush(stdout);
    }
    real_.exitProcess(code);
    std::abort();  // not reached: the real platform ends the process
  }

 private:
  host::Platform& real_;
  Clock::time_point entered_;
  Clock::time_point first_{};
  Clock::time_point last_{};
  long frames_ = 0;
};

}  // namespace

int main() {
  TimedPlatform platform(host::systemPlatform());
  host::runDemo(platform, host::shippedSoundtrack());
}
