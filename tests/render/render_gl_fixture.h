#pragma once
#include <GL/glew.h>

#include <string>
#include <vector>

#include "render/shader.h"
#include "render/texture.h"
#include "support/asset_root.h"
#include "support/gl_context.h"

// A throw-away asset root holding a copy of the shipped shaders, a GL context, and fresh
// process-wide texture and shader managers (deleted again after each test).
class RenderGLTest : public AssetRootTest {
 protected:
  void SetUp() override {
    AssetRootTest::SetUp();
    ASSERT_TRUE(ensureTestGLContext()) << "run GL tests under xvfb-run -a";
    copyAsset("shaders");
    g_textureManager = new TextureManager();
    g_textureManager->registerTypeNames();
  }

  void TearDown() override {
    delete g_shaderManager;
    g_shaderManager = nullptr;
    delete g_textureManager;
    g_textureManager = nullptr;
    drainGLErrors();
    AssetRootTest::TearDown();
  }

  // Compiles the twelve programs; returns what they printed.
  std::string loadShaders() {
    g_shaderManager = new ShaderManager();
    testing::internal::CaptureStdout();
    g_shaderManager->loadShaders();
    return testing::internal::GetCapturedStdout();
  }

  // A vertex and fragment pair written into the asset root, built as a Shader.
  Shader* buildShader(const std::string& name, const std::string& vertex,
                      const std::string& fragment) {
    writeFile("test/" + name + ".vs", vertex);
    writeFile("test/" + name + ".fs", fragment);
    return new Shader(rootPath("test/" + name + ".vs"), rootPath("test/" + name + ".fs"));
  }

  // The first `count` floats of a uniform (its size, or more, never less).
  static std::vector<float> uniformFloats(GLuint program, const char* name, size_t count) {
    std::vector<float> values(count, -999.0f);
    glGetUniformfv(program, glGetUniformLocation(program, name), values.data());
    return values;
  }
  static float uniformFloat(GLuint program, const char* name) {
    return uniformFloats(program, name, 1)[0];
  }
  static int uniformInt(GLuint program, const char* name) {
    int value = -999;
    glGetUniformiv(program, glGetUniformLocation(program, name), &value);
    return value;
  }
};

// A position-only vertex shader for test programs.
inline const char* kTestVertexShader = R"(#version 410 core
layout(location = 0) in vec3 a_position;
uniform mat4 m_matrix;
void main() { gl_Position = m_matrix * vec4(a_position, 1.0); }
)";
