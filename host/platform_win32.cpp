// The platform on Windows itself: a window of a class that the system
// provides, the GL context through WGL, the sound through WinMM's waveform
// output, the render thread through the kernel.
//
// The program registers no window class, runs no window procedure and reads
// no window messages. The Escape key is read asynchronously and the frame
// clock is timeGetTime.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // the C++ library may have defined it
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they rely on.
#include <GL/gl.h>
#include <mmreg.h>
#include <mmsystem.h>

#include <cstdio>
#include <string>

#include "host/platform.h"

namespace host {
namespace {

// The system's own window class registered under this atom; when the running
// system has none there, the plain "static" class serves as well.
constexpr WORD kSystemClassAtom = 0xC018;
constexpr const char* kFallbackClass = "static";

// Pixel format 7 is set directly, with a descriptor that is zero but for its
// flags: a double-buffered OpenGL surface. No format is chosen by matching
// unless the system refuses that one.
constexpr int kPixelFormat = 7;
constexpr DWORD kPixelFormatFlags = PFD_DOUBLEBUFFER | PFD_SUPPORT_OPENGL;  // 0x21

PIXELFORMATDESCRIPTOR setDescriptor() {
  PIXELFORMATDESCRIPTOR descriptor{};
  descriptor.dwFlags = kPixelFormatFlags;
  return descriptor;
}

// What ChoosePixelFormat matches when format 7 cannot be set: any
// double-buffered RGBA OpenGL format for a window.
PIXELFORMATDESCRIPTOR fallbackDescriptor() {
  PIXELFORMATDESCRIPTOR descriptor{};
  descriptor.nSize = sizeof descriptor;
  descriptor.nVersion = 1;
  descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  descriptor.iPixelType = PFD_TYPE_RGBA;
  descriptor.cColorBits = 24;
  descriptor.iLayerType = PFD_MAIN_PLANE;
  return descriptor;
}

// 44,100 Hz, two channels of 32-bit IEEE float: the RenderBuffer's frames as
// they are, eight bytes each.
WAVEFORMATEX audioFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
  format.nChannels = 2;
  format.nSamplesPerSec = synth::kSampleRate;
  format.wBitsPerSample = 32;
  format.nBlockAlign = sizeof(synth::Frame);
  format.nAvgBytesPerSec = synth::kSampleRate * sizeof(synth::Frame);
  format.cbSize = 0;
  return format;
}

std::string systemMessage(DWORD code) {
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  char number[32];
  std::snprintf(number, sizeof number, "error %lu", static_cast<unsigned long>(code));
  return message.empty() ? number : message + " (" + number + ")";
}

std::string waveOutMessage(MMRESULT code) {
  char text[MAXERRORLENGTH] = {};
  waveOutGetErrorTextA(code, text, sizeof text);
  std::string message(text);
  while (!message.empty() && (message.back() == ' ' || message.back() == '.')) message.pop_back();
  char number[32];
  std::snprintf(number, sizeof number, "MMSYSERR %u", code);
  return message.empty() ? std::string(number) : message + " (" + number + ")";
}

// The routine the render thread runs. Written once before the thread is
// created, which orders the write before the thread's read; the thread's
// one argument stays the RenderBuffer's first frame.
void (*threadRoutine)(void*) = nullptr;

DWORD WINAPI runThread(LPVOID argument) {
  threadRoutine(argument);
  return 0;
}

// Seconds since the process was created, by the system's wall clock (to a
// few milliseconds; the precise clock is missing before Windows 8).
double secondsSinceProcessStart() {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  auto ticks = [](const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(ticks(now) - ticks(created)) / 1e7;  // 100 ns ticks
}

class Win32Platform final : public Platform {
 public:
  bool openWindow(int width, int height) override {
    // No window name, no parent, menu, instance or creation data.
    window_ = CreateWindowExA(0, MAKEINTATOM(kSystemClassAtom), nullptr, WS_POPUP | WS_VISIBLE, 0,
                              0, width, height, nullptr, nullptr, nullptr, nullptr);
    std::string windowClass = "class atom 0xC018";
    if (window_ == nullptr) {
      window_ = CreateWindowExA(0, kFallbackClass, nullptr, WS_POPUP | WS_VISIBLE, 0, 0, width,
                                height, nullptr, nullptr, nullptr, nullptr);
      windowClass = std::string("the fallback class \"") + kFallbackClass +
                    "\" (the system has no class under atom 0xC018)";
    }
    if (window_ == nullptr) {
      return failed("CreateWindowExA with class atom 0xC018, then \"static\"", GetLastError());
    }
    char className[256] = {};
    if (GetClassNameA(window_, className, sizeof className) > 0) {
      windowClass += std::string(", named \"") + className + "\"";
    }

    dc_ = GetDC(window_);
    if (dc_ == nullptr) return failed("GetDC", GetLastError());

    std::string pixelFormat;
    const PIXELFORMATDESCRIPTOR wanted = setDescriptor();
    if (SetPixelFormat(dc_, kPixelFormat, &wanted)) {
      format_ = kPixelFormat;
      pixelFormat = "pixel format 7 set directly";
    } else {
      const DWORD refusal = GetLastError();
      const PIXELFORMATDESCRIPTOR fallback = fallbackDescriptor();
      format_ = ChoosePixelFormat(dc_, &fallback);
      if (format_ == 0) return failed("ChoosePixelFormat", GetLastError());
      if (!SetPixelFormat(dc_, format_, &fallback)) return failed("SetPixelFormat", GetLastError());
      pixelFormat = "pixel format " + std::to_string(format_) +
                    " chosen (format 7 was refused: " + systemMessage(refusal) + ")";
    }
    pixelFormat += ", " + describeFormat(format_);

    writeLine("demo: window of " + windowClass + "; " + pixelFormat);
    return true;
  }

  bool createGlContext() override {
    HGLRC context = wglCreateContext(dc_);
    if (context == nullptr) return failed("wglCreateContext", GetLastError());
    if (!wglMakeCurrent(dc_, context)) return failed("wglMakeCurrent", GetLastError());
    return true;
  }

  void hideCursor() override { ShowCursor(FALSE); }

  GlProc glProc(const char* name) override {
    PROC address = wglGetProcAddress(name);
    // Some drivers answer a missing entry point with a small integer or -1
    // rather than null.
    const auto value = reinterpret_cast<intptr_t>(address);
    if (value >= -1 && value <= 3) return nullptr;
    return reinterpret_cast<GlProc>(address);
  }

  void glRects(int16_t x1, int16_t y1, int16_t x2, int16_t y2) override {
    ::glRects(x1, y1, x2, y2);
  }

  void swapBuffers() override {
    SwapBuffers(dc_);
    if (frames_++ == 0) {
      QueryPerformanceCounter(&firstFrame_);
      firstFrameAfter_ = secondsSinceProcessStart();
    }
  }

  void startThread(void (*routine)(void*), void* argument) override {
    threadRoutine = routine;
    // Default stack, starts at once; its handle is neither waited on nor
    // closed: the thread ends with the process if it has not ended before.
    if (CreateThread(nullptr, 0, runThread, argument, 0, nullptr) == nullptr) {
      report(
          ("demo: cannot start the render thread: CreateThread: " + systemMessage(GetLastError()))
              .c_str());
      exitProcess(1);
    }
  }

  // The device reads the buffer itself, from its first frame, as soon as
  // the header is queued: what it plays is whatever the buffer holds when it
  // gets there. The buffer is zero-initialised static storage, so a frame
  // the render has not reached yet plays as silence; the render keeps ahead
  // of playback from the start. Nothing here reads the buffer or the
  // render's progress.
  bool playAudio(const synth::Frame* frames, uint32_t frameCount,
                 const synth::RenderProgress* /*progress*/) override {
    const WAVEFORMATEX format = audioFormat();
    MMRESULT result = waveOutOpen(&device_, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (result != MMSYSERR_NOERROR) return failedWaveOut("waveOutOpen", result);
    // One header over the whole buffer, played once.
    header_ = {};
    header_.lpData = reinterpret_cast<LPSTR>(const_cast<synth::Frame*>(frames));
    header_.dwBufferLength = frameCount * static_cast<DWORD>(sizeof(synth::Frame));
    result = waveOutPrepareHeader(device_, &header_, sizeof header_);
    if (result != MMSYSERR_NOERROR) return failedWaveOut("waveOutPrepareHeader", result);
    result = waveOutWrite(device_, &header_, sizeof header_);
    if (result != MMSYSERR_NOERROR) return failedWaveOut("waveOutWrite", result);
    return true;
  }

  uint32_t milliseconds() override { return timeGetTime(); }

  // Any non-zero state: down now, or pressed since the previous query.
  bool escapePressed() override { return GetAsyncKeyState(VK_ESCAPE) != 0; }

  const char* failureReason() override { return reason_.c_str(); }

  void report(const char* line) override {
    lastReport_ = line;
    writeLine(line);
  }

  [[noreturn]] void exitProcess(int code) override {
    if (frames_ > 0) writeLine(frameSummary());
    // Without a console or a redirected stderr (started from the desktop),
    // the reason for a failed start would go unseen.
    if (code != 0 && !haveStderr() && !lastReport_.empty()) {
      MessageBoxA(nullptr, lastReport_.c_str(), "demo", MB_OK | MB_ICONERROR);
    }
    ExitProcess(static_cast<UINT>(code));
  }

 private:
  static bool haveStderr() {
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
  }

  static void writeLine(const std::string& line) {
    if (!haveStderr()) return;
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }

  // What the pixel format offers, for the start-up report.
  std::string describeFormat(int format) {
    PIXELFORMATDESCRIPTOR d{};
    if (DescribePixelFormat(dc_, format, sizeof d, &d) == 0) return "not described";
    std::string text = (d.dwFlags & PFD_DOUBLEBUFFER) ? "double-buffered" : "single-buffered";
    text += d.iPixelType == PFD_TYPE_RGBA ? " RGBA" : " colour-index";
    text += (d.dwFlags & PFD_SUPPORT_OPENGL) ? " OpenGL" : " without OpenGL";
    char bits[96];
    std::snprintf(bits, sizeof bits, ", %d colour, %d alpha, %d depth, %d stencil bits",
                  d.cColorBits, d.cAlphaBits, d.cDepthBits, d.cStencilBits);
    return text + bits;
  }

  std::string frameSummary() const {
    LARGE_INTEGER now{}, frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const double seconds = static_cast<double>(now.QuadPart - firstFrame_.QuadPart) /
                           static_cast<double>(frequency.QuadPart);
    char line[200];
    std::snprintf(line, sizeof line,
                  "demo: %llu frames in %.2f s since the first (%.1f frames/s); the first was "
                  "shown %.0f ms after the process started",
                  frames_, seconds, seconds > 0 ? static_cast<double>(frames_ - 1) / seconds : 0.0,
                  firstFrameAfter_ * 1000);
    return line;
  }

  bool failed(const char* call, DWORD code) {
    reason_ = std::string(call) + ": " + systemMessage(code);
    return false;
  }
  bool failedWaveOut(const char* call, MMRESULT code) {
    reason_ = std::string(call) + ": " + waveOutMessage(code);
    return false;
  }

  HWND window_ = nullptr;
  HDC dc_ = nullptr;
  int format_ = 0;
  // Read by the device for the whole run: they live as long as the process.
  HWAVEOUT device_ = nullptr;
  WAVEHDR header_{};
  std::string reason_;
  std::string lastReport_;
  unsigned long long frames_ = 0;
  LARGE_INTEGER firstFrame_{};
  double firstFrameAfter_ = 0;
};

}  // namespace

Platform& systemPlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace host
