// The demo's own logic against a scripted platform: start-up order, the
// frame loop's clock and exit rules, and what happens when a step fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/demo.h"
#include "host/platform.h"
#include "host/shader.h"

namespace host {
namespace {

constexpr uint32_t kProgram = 7;
constexpr uint32_t kFragmentShader = 0x8B30;
constexpr uint32_t kLinkStatus = 0x8B82;

struct Exited {
  int code;
};
struct ScriptExhausted {};

// A platform that records every call as one line of text and answers from a
// script. exitProcess throws, so a run can end inside a test.
class FakePlatform final : public Platform {
 public:
  // What the fake answers.
  bool windowOpens = true;
  bool contextCreated = true;
  bool audioOpens = true;
  std::string reason = "scripted failure";
  int32_t linkStatus = 1;
  std::string infoLog;
  int32_t uniformLocation = 3;
  std::vector<uint32_t> clock;        // successive milliseconds() readings
  size_t escapeFromQuery = SIZE_MAX;  // Escape reads pressed from this query on (0-based)

  // What the fake saw.
  std::vector<std::string> calls;
  std::vector<std::string> reports;
  const char* shaderSource = nullptr;  // the one string the program was built from
  void (*threadRoutine)(void*) = nullptr;
  void* threadArgument = nullptr;
  const synth::Frame* audioFrames = nullptr;
  uint32_t audioFrameCount = 0;
  const synth::RenderProgress* audioProgress = nullptr;

  FakePlatform() { active = this; }
  ~FakePlatform() { active = nullptr; }

  bool openWindow(int width, int height) override {
    log("openWindow " + std::to_string(width) + "x" + std::to_string(height));
    return windowOpens;
  }
  bool createGlContext() override {
    log("createGlContext");
    return contextCreated;
  }
  void hideCursor() override { log("hideCursor"); }
  GlProc glProc(const char* name) override {
    log(std::string("proc ") + name);
    const std::string n = name;
    if (n == "glCreateShaderProgramv") return reinterpret_cast<GlProc>(&createShaderProgramv);
    if (n == "glUseProgram") return reinterpret_cast<GlProc>(&useProgram);
    if (n == "glGetProgramiv") return reinterpret_cast<GlProc>(&getProgramiv);
    if (n == "glGetProgramInfoLog") return reinterpret_cast<GlProc>(&getProgramInfoLog);
    if (n == "glGetUniformLocation") return reinterpret_cast<GlProc>(&getUniformLocation);
    if (n == "glUniform1i") return reinterpret_cast<GlProc>(&uniform1i);
    return nullptr;
  }
  void glRects(int16_t x1, int16_t y1, int16_t x2, int16_t y2) override {
    log("glRects " + std::to_string(x1) + " " + std::to_string(y1) + " " + std::to_string(x2) +
        " " + std::to_string(y2));
  }
  void swapBuffers() override { log("swap"); }
  void startThread(void (*routine)(void*), void* argument) override {
    log("startThread");
    threadRoutine = routine;
    threadArgument = argument;
  }
  bool playAudio(const synth::Frame* frames, uint32_t frameCount,
                 const synth::RenderProgress* progress) override {
    log("playAudio");
    audioFrames = frames;
    audioFrameCount = frameCount;
    audioProgress = progress;
    return audioOpens;
  }
  uint32_t milliseconds() override {
    if (clockReads == clock.size()) throw ScriptExhausted{};
    log("clock");
    return clock[clockReads++];
  }
  bool escapePressed() override {
    log("escape?");
    return escapeQueries++ >= escapeFromQuery;
  }
  const char* failureReason() override { return reason.c_str(); }
  void report(const char* line) override { reports.emplace_back(line); }
  [[noreturn]] void exitProcess(int code) override {
    log("exit " + std::to_string(code));
    throw Exited{code};
  }

 private:
  void log(std::string line) { calls.push_back(std::move(line)); }

  static uint32_t createShaderProgramv(uint32_t type, int32_t count, const char* const* strings) {
    active->shaderSource = count == 1 ? strings[0] : nullptr;
    active->log("glCreateShaderProgramv " + std::to_string(type) + " " + std::to_string(count));
    return kProgram;
  }
  static void useProgram(uint32_t program) {
    active->log("glUseProgram " + std::to_string(program));
  }
  static void getProgramiv(uint32_t program, uint32_t name, int32_t* value) {
    active->log("glGetProgramiv " + std::to_string(program) + " " + std::to_string(name));
    if (name == kLinkStatus) *value = active->linkStatus;
  }
  static void getProgramInfoLog(uint32_t program, int32_t size, int32_t* length, char* text) {
    active->log("glGetProgramInfoLog " + std::to_string(program));
    auto n = std::min<size_t>(active->infoLog.size(), static_cast<size_t>(size) - 1);
    active->infoLog.copy(text, n);
    text[n] = '\0';
    if (length != nullptr) *length = static_cast<int32_t>(n);
  }
  static int32_t getUniformLocation(uint32_t program, const char* name) {
    active->log("glGetUniformLocation " + std::to_string(program) + " " + name);
    return active->uniformLocation;
  }
  static void uniform1i(int32_t location, int32_t value) {
    active->log("glUniform1i " + std::to_string(location) + " " + std::to_string(value));
  }

  static inline FakePlatform* active = nullptr;
  size_t clockReads = 0;
  size_t escapeQueries = 0;
};

void renderNothing(void*) {}

class DemoTest : public ::testing::Test {
 protected:
  // Runs the demo to its exit and returns the exit code; -1 if the script
  // ran out before the demo ended.
  int run() {
    try {
      runDemo(platform, soundtrack);
    } catch (const Exited& exited) {
      return exited.code;
    } catch (const ScriptExhausted&) {
      return -1;
    }
  }

  // The calls after start-up: from the first frame's clock reading (the
  // start-up reading being the first) to the end.
  std::vector<std::string> frameCalls() const {
    auto& calls = platform.calls;
    auto startTime = std::find(calls.begin(), calls.end(), "clock");
    if (startTime == calls.end()) return {};
    return {startTime + 1, calls.end()};
  }

  FakePlatform platform;
  synth::Frame frames[4] = {};
  synth::RenderProgress progress{};
  Soundtrack soundtrack{frames, 4, &progress, renderNothing};
};

// What one frame must do, in order, for a given elapsed time.
std::vector<std::string> expectedFrame(int32_t location, int32_t elapsed) {
  return {"clock",
          "proc glGetUniformLocation",
          "glGetUniformLocation " + std::to_string(kProgram) + " mm",
          "proc glUniform1i",
          "glUniform1i " + std::to_string(location) + " " + std::to_string(elapsed),
          "glRects -1 -1 1 1",
          "swap",
          "escape?"};
}

struct LoopCase {
  const char* name;
  uint32_t start;                    // clock at the start-up reading
  std::vector<uint32_t> frameClock;  // clock at each frame's reading (more than needed)
  size_t escapeFromFrame;            // 0-based; SIZE_MAX = never
  int32_t location;
  std::vector<int32_t> drawnElapsed;  // elapsed of every frame drawn, in order
};
void PrintTo(const LoopCase& c, std::ostream* os) {
  *os << c.name;
}

class FrameLoopTest : public DemoTest, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(FrameLoopTest, DrawsShowsThenTestsEscapeThenTheLimit) {
  const LoopCase& c = GetParam();
  platform.clock = {c.start};
  platform.clock.insert(platform.clock.end(), c.frameClock.begin(), c.frameClock.end());
  platform.escapeFromQuery = c.escapeFromFrame;
  platform.uniformLocation = c.location;

  ASSERT_EQ(run(), 0);

  std::vector<std::string> expected;
  for (int32_t elapsed : c.drawnElapsed) {
    auto frame = expectedFrame(c.location, elapsed);
    expected.insert(expected.end(), frame.begin(), frame.end());
  }
  expected.push_back("exit 0");
  EXPECT_EQ(frameCalls(), expected);
  EXPECT_TRUE(platform.reports.empty());
}

constexpr size_t kNever = SIZE_MAX;

INSTANTIATE_TEST_SUITE_P(
    Rules, FrameLoopTest,
    ::testing::Values(
        LoopCase{"EscapeHeldFromTheStartShowsOneFrame", 1000, {1000, 1016, 1033}, 0, 3, {0}},
        LoopCase{"EscapeSeenAtTheThirdFrameEndsAfterIt", 0, {0, 16, 33, 50}, 2, 3, {0, 16, 33}},
        LoopCase{"FrameJustBelowTheLimitIsFollowedAndTheFirstAtTheLimitIsLast",
                 500,
                 {500 + 188999, 500 + 189000, 500 + 189001},
                 kNever,
                 3,
                 {188999, 189000}},
        LoopCase{"FirstFramePastTheLimitIsDrawnAndLast", 0, {250000, 250016}, kNever, 3, {250000}},
        LoopCase{"ClockWrapBetweenStartAndFrame",
                 0xFFFFFF00u,
                 {0x00000010u, 0xFFFFFF00u + 189000u, 0x00030000u},
                 kNever,
                 3,
                 {0x110, 189000}},
        LoopCase{"UniformLocationMinusOneChangesNothing",
                 500,
                 {500 + 188999, 500 + 189000, 500 + 189001},
                 kNever,
                 -1,
                 {188999, 189000}},
        // elapsed is signed: a reading before start is negative, not huge.
        LoopCase{"ElapsedIsComparedSigned",
                 5000,
                 {4000, 5000 + 189000, 5000 + 189016},
                 kNever,
                 3,
                 {-1000, 189000}}),
    [](const auto& info) { return std::string(info.param.name); });

// The steps that start-up must take, in this order, before the first frame.
TEST_F(DemoTest, StartsUpInOrderAndHandsTheBufferToThreadAndSound) {
  platform.clock = {100, 100};
  platform.escapeFromQuery = 0;
  ASSERT_EQ(run(), 0);

  const std::vector<std::string> steps = {
      "openWindow 1280x720", "createGlContext",
      "hideCursor",          "glCreateShaderProgramv " + std::to_string(kFragmentShader) + " 1",
      "glUseProgram 7",      "startThread",
      "playAudio",           "clock"};
  std::vector<std::string> seen;
  for (const std::string& call : platform.calls) {
    if (std::find(steps.begin(), steps.end(), call) != steps.end()) seen.push_back(call);
    if (call == "clock") break;
  }
  EXPECT_EQ(seen, steps);

  EXPECT_EQ(platform.shaderSource, kShaderText);
  // The link status is checked for the program that is then used.
  auto& calls = platform.calls;
  auto linkCheck =
      std::find(calls.begin(), calls.end(), "glGetProgramiv 7 " + std::to_string(kLinkStatus));
  auto use = std::find(calls.begin(), calls.end(), "glUseProgram 7");
  EXPECT_LT(linkCheck, use);

  EXPECT_EQ(platform.threadRoutine, soundtrack.render);
  EXPECT_EQ(platform.threadArgument, static_cast<void*>(frames));
  EXPECT_EQ(platform.audioFrames, frames);
  EXPECT_EQ(platform.audioFrameCount, 4u);
  EXPECT_EQ(platform.audioProgress, &progress);
}

// A step without which nothing can be shown ends the run with code 1 and one
// line naming the step and the platform's reason; nothing after it runs.
struct FailureCase {
  const char* name;
  void (*arrange)(FakePlatform&);
  const char* step;    // expected in the line
  const char* reason;  // expected in the line
  const char* lastCall;
};
void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class StartUpFailureTest : public DemoTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartUpFailureTest, ReportsOneLineAndExitsWithOne) {
  const FailureCase& c = GetParam();
  platform.clock = {0, 0};
  platform.escapeFromQuery = 0;
  c.arrange(platform);

  ASSERT_EQ(run(), 1);

  ASSERT_EQ(platform.reports.size(), 1u);
  const std::string& line = platform.reports[0];
  EXPECT_NE(line.find(c.step), std::string::npos) << line;
  EXPECT_NE(line.find(c.reason), std::string::npos) << line;
  EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  auto& calls = platform.calls;
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], c.lastCall);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "startThread"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartUpFailureTest,
    ::testing::Values(FailureCase{"NoWindow",
                                  [](FakePlatform& p) {
                                    p.windowOpens = false;
                                    p.reason = "no display";
                                  },
                                  "window", "no display", "openWindow 1280x720"},
                      FailureCase{"NoGlContext",
                                  [](FakePlatform& p) {
                                    p.contextCreated = false;
                                    p.reason = "GLX is missing";
                                  },
                                  "GL context", "GLX is missing", "createGlContext"},
                      FailureCase{"ShaderDoesNotLink",
                                  [](FakePlatform& p) {
                                    p.linkStatus = 0;
                                    p.infoLog = "0:1(5): error: bad\n0:1(9): error: worse\n";
                                  },
                                  "shader", "error: bad 0:1(9): error: worse",
                                  "glGetProgramInfoLog 7"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DemoTest, WithoutSoundWarnsOnceAndRunsTheFramesAsUsual) {
  platform.audioOpens = false;
  platform.reason = "no audio device";
  platform.clock = {0, 188999, 189000, 189001};

  ASSERT_EQ(run(), 0);

  ASSERT_EQ(platform.reports.size(), 1u);
  EXPECT_NE(platform.reports[0].find("no audio device"), std::string::npos);
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "swap"), 2);
}

}  // namespace
}  // namespace host
