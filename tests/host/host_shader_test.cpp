// The shader text: its form, and what it draws when the GL builds it. The GL
// here is an offscreen context of the system's OpenGL (EGL without a window
// system), so no display is needed.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/demo.h"
#include "host/shader.h"

namespace host {
namespace {

TEST(ShaderText, IsOneLineOfPrintableAsciiWithoutVersion) {
  const std::string text = kShaderText;
  ASSERT_FALSE(text.empty());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    ASSERT_TRUE(c >= 0x20 && c <= 0x7E) << "byte " << i << " is " << int{c};
  }
  EXPECT_EQ(text.find("#version"), std::string::npos);
}

TEST(ShaderText, DeclaresTheUniformAndTheSceneLibrary) {
  const std::string text = kShaderText;
  for (const char* declaration :
       {"uniform int mm;", "vec3 v=", "float m;", "vec4 pp(float t,vec2 f)", "float fc(float x)",
        "vec3 fr(vec3 c)", "vec3 cc(vec3 c)", "void main()"}) {
    EXPECT_NE(text.find(declaration), std::string::npos) << declaration;
  }
}

// The library without `main`, for programs that call into it.
std::string sceneLibrary() {
  const std::string text = kShaderText;
  return text.substr(0, text.find("void main()"));
}

// A GL context without a window, an RGBA framebuffer of the window's size,
// and the demo's way of drawing: one fragment-only program, glRects.
class OffscreenGl : public ::testing::Test {
 protected:
  void SetUp() override {
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) GTEST_SKIP() << "EGL offers no platform displays";
    display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr)) {
      GTEST_SKIP() << "no offscreen EGL display";
    }
    ASSERT_TRUE(eglBindAPI(EGL_OPENGL_API));
    const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                 EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    context_ = eglCreateContext(display_, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    ASSERT_NE(context_, EGL_NO_CONTEXT) << std::hex << eglGetError();
    ASSERT_TRUE(eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_));

    glGenRenderbuffers(1, &colour_);
    glBindRenderbuffer(GL_RENDERBUFFER, colour_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWindowWidth, kWindowHeight);
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum{GL_FRAMEBUFFER_COMPLETE});
    glViewport(0, 0, kWindowWidth, kWindowHeight);
  }

  void TearDown() override {
    if (display_ == EGL_NO_DISPLAY) return;
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
    // The display stays initialised: terminating it unloads the GL driver,
    // whose few allocations kept for the process would then show up as
    // leaks of an unknown module instead of the driver's own.
  }

  // Builds a program the way the demo does; 0 and the log if it fails.
  GLuint build(const std::string& text, std::string* log) {
    const char* sources[1] = {text.c_str()};
    GLuint program = glCreateShaderProgramv(GL_FRAGMENT_SHADER, 1, sources);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked == 0) {
      char buffer[4096] = {};
      glGetProgramInfoLog(program, sizeof buffer, nullptr, buffer);
      *log = buffer;
      return 0;
    }
    return program;
  }

  // One frame as the demo draws it, with mm set; the pixels, bottom row first.
  std::vector<uint8_t> draw(GLuint program, GLint milliseconds) {
    glClearColor(0.25f, 0.5f, 0.75f, 1.0f);  // a colour no test expects
    glClear(GL_COLOR_BUFFER_BIT);
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "mm"), milliseconds);
    glRects(-1, -1, 1, 1);
    std::vector<uint8_t> pixels(size_t{kWindowWidth} * kWindowHeight * 4);
    glReadPixels(0, 0, kWindowWidth, kWindowHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    EXPECT_EQ(glGetError(), GLenum{GL_NO_ERROR});
    return pixels;
  }

  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLContext context_ = EGL_NO_CONTEXT;
  GLuint colour_ = 0;
  GLuint framebuffer_ = 0;
};

TEST_F(OffscreenGl, DemoShaderPaintsEveryPixelPureGreenAtAnyTime) {
  std::string log;
  GLuint program = build(kShaderText, &log);
  ASSERT_NE(program, 0u) << log;
  for (GLint milliseconds : {0, 15000, 100000, 189000}) {
    std::vector<uint8_t> pixels = draw(program, milliseconds);
    size_t off = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) {
      if (pixels[i] != 0 || pixels[i + 1] != 255 || pixels[i + 2] != 0) ++off;
    }
    EXPECT_EQ(off, 0u) << "pixels not green at " << milliseconds << " ms";
  }
}

// The scene library on its own: pp drawn over the whole window.
class SceneTest : public OffscreenGl {
 protected:
  void SetUp() override {
    OffscreenGl::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string log;
    program_ = build(sceneLibrary() +
                         "void main(){m=float(mm)*.001;"
                         "gl_FragColor=vec4(cc(fr(pp(m,gl_FragCoord.xy/v.xy).rgb)),1.);}",
                     &log);
    ASSERT_NE(program_, 0u) << log;
  }

  static size_t lit(const std::vector<uint8_t>& pixels) {
    size_t count = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) {
      if (pixels[i] > 8 || pixels[i + 1] > 8 || pixels[i + 2] > 8) ++count;
    }
    return count;
  }

  GLuint program_ = 0;
};

TEST_F(SceneTest, ShowsSomethingMirroredAboutTheVerticalCentre) {
  for (GLint milliseconds : {5000, 20000, 100000, 150000}) {
    std::vector<uint8_t> pixels = draw(program_, milliseconds);
    EXPECT_GT(lit(pixels), pixels.size() / 4 / 20) << "mostly dark at " << milliseconds << " ms";
    // Mirrored coordinates differ in their last bits, which can tip a ray
    // over the hit threshold here and there: a few stray pixels may differ.
    size_t asymmetric = 0;
    for (int y = 0; y < kWindowHeight; ++y) {
      for (int x = 0; x < kWindowWidth / 2; ++x) {
        const uint8_t* left = &pixels[(size_t(y) * kWindowWidth + x) * 4];
        const uint8_t* right = &pixels[(size_t(y) * kWindowWidth + (kWindowWidth - 1 - x)) * 4];
        for (int channel = 0; channel < 3; ++channel) {
          if (std::abs(left[channel] - right[channel]) > 2) {
            ++asymmetric;
            break;
          }
        }
      }
    }
    EXPECT_LE(asymmetric, size_t{kWindowWidth} * kWindowHeight / 2 / 10000)
        << "at " << milliseconds << " ms";
  }
}

TEST_F(SceneTest, FadesToBlackByTheEndOfTheRun) {
  const size_t during = lit(draw(program_, 150000));
  const size_t fading = lit(draw(program_, 175000));
  const size_t faded = lit(draw(program_, 187000));
  EXPECT_LT(fading, during);
  // The colour correction lifts black a little; nothing else may be lit.
  EXPECT_EQ(faded, 0u);
}

}  // namespace
}  // namespace host
