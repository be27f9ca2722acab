#include "render/shader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unordered_set>
#include <utility>

#include "core/settings.h"
#include "core/text_file.h"
#include "quillax.pb.h"
#include "render/model_render.h"
#include "render/render_gl_fixture.h"

namespace {

// Two diffuse samplers and a shadow map; _Normal_Map1 comes after a gap in the numbering (no
// _Normal_Map0). Every sampler and flag is used so the compiler keeps it active.
const char* kSamplerFragment = R"(#version 410 core
uniform sampler2D _Diffuse_Map0, _Diffuse_Map1, _Shadow_Map0, _Normal_Map1;
uniform int is_Diffuse_Map0, is_Diffuse_Map1, is_Shadow_Map0;
out vec4 fragColor;
void main() {
  vec2 uv = gl_FragCoord.xy;
  fragColor = texture(_Diffuse_Map0, uv) * float(is_Diffuse_Map0) + texture(_Normal_Map1, uv)
            + texture(_Diffuse_Map1, uv) * float(is_Diffuse_Map1)
            + texture(_Shadow_Map0, uv) * float(is_Shadow_Map0);
}
)";

}  // namespace

TEST(ShaderTable, RowLayoutsMatchTheirFloatCounts) {
  int locations[kAttributeSlots];
  uint32_t sizes[kAttributeSlots];
  for (uint32_t i = 0; i < g_shaderTable.size(); ++i) {
    EXPECT_EQ(shaderRowLayout(i, locations, sizes), g_shaderTable[i].floatsPerVertex) << i;
    EXPECT_EQ(locations[0], 0) << "every program reads a position, row " << i;
  }
  EXPECT_EQ(shaderRowLayout(12, locations, sizes), 0u);
}

using ShaderManagerGL = RenderGLTest;

TEST_F(ShaderManagerGL, BrokenEntriesReportAndDrawNothingWhileOthersLoad) {
  std::filesystem::remove(rootPath("shaders/simple_color_in.fs"));
  writeFile("shaders/lambert_solid.fs", "#version 410 core\nvoid main() { nonsense; }\n");
  const std::string out = loadShaders();
  for (const char* message : {"ERROR::SHADER::FILE_NOT_SUCCESFULLY_READ\n",
                              "ERROR::SHADER_COMPILATION_ERROR of type: FRAGMENT\n",
                              "\n -- --------------------------------------------------- -- \n"})
    EXPECT_NE(out.find(message), std::string::npos) << message << out;
  for (uint32_t broken : {1u, 4u}) {
    EXPECT_EQ(g_shaderManager->programId(broken), 0u);
    EXPECT_FALSE(g_shaderManager->useProgram(broken));
    EXPECT_FALSE(g_shaderManager->hasUniformMatrix());
  }
  EXPECT_TRUE(g_shaderManager->useProgram(0));
  EXPECT_NE(g_shaderManager->programId(2), 0u);
}

TEST_F(ShaderManagerGL, OpacityAndColourAreSentOnlyPastTheirThresholds) {
  loadShaders();
  ShaderManager& sm = *g_shaderManager;
  ASSERT_TRUE(sm.useProgram(2));
  ASSERT_TRUE(sm.hasUniformOpacity() && sm.hasUniformColor());
  const GLuint id = sm.programId(2);
  // {value set, value the program holds after}: the first always goes (cache -1), a step of
  // exactly 0.01 goes too.
  const float opacities[][2] = {{1.0f, 1.0f}, {0.995f, 1.0f}, {0.99f, 0.99f}};
  for (const auto& step : opacities) {
    sm.setUniformOpacity(step[0]);
    EXPECT_NEAR(uniformFloat(id, "m_opacity"), step[1], 1e-6) << step[0];
  }
  // Red moved by 0.009 (squared 8.1e-5) stays, by 0.011 (1.21e-4) goes.
  const float reds[][2] = {{0.5f, 0.5f}, {0.509f, 0.5f}, {0.511f, 0.511f}};
  for (const auto& step : reds) {
    const float rgba[4] = {step[0], 0.5f, 0.5f, 1.0f};
    sm.setUniformColor(rgba);
    EXPECT_EQ(uniformFloats(id, "m_color", 4), (std::vector<float>{step[1], 0.5f, 0.5f, 1.0f}));
  }
  // The caches are per program: program 3 still takes its first opacity.
  ASSERT_TRUE(sm.useProgram(3));
  EXPECT_FLOAT_EQ(sm.m_opacityCache[3], -1.0f);
}

// The shipped programs all build; the hair parameters are read, or written when missing.
TEST_F(ShaderManagerGL, ShippedProgramsBuildAndHairParametersAreReadOrWrittenBack) {
  const std::string path = rootPath("shaders/pbr_hair_parameters.txt");
  std::filesystem::remove(path);
  const std::string out = loadShaders();
  EXPECT_EQ(out.find("ERROR::"), std::string::npos) << out;
  for (uint32_t i = 0; i < 12; ++i)
    EXPECT_NE(g_shaderManager->programId(i), 0u) << g_shaderTable[i].path;
  EXPECT_EQ(drainGLErrors(), 0u);
  quillax::HairShaderParam written;
  ASSERT_TRUE(ReadProtoFromTextFile(path.c_str(), &written));
  EXPECT_FLOAT_EQ(written.cutoff(), 0.55f);
  EXPECT_FLOAT_EQ(uniformFloat(g_shaderManager->programId(7), "_Cutoff"), 0.55f);
  delete g_shaderManager;

  // A file the user wrote is used as it stands, never rewritten.
  writeFile("shaders/pbr_hair_parameters.txt", "cutoff: 0.3\n");
  loadShaders();
  EXPECT_FLOAT_EQ(uniformFloat(g_shaderManager->programId(7), "_Cutoff"), 0.3f);
  EXPECT_EQ(readFile("shaders/pbr_hair_parameters.txt"), "cutoff: 0.3\n");

}

TEST_F(ShaderManagerGL, BindTexturesGivesUnitsOnlyToDeclaredSamplers) {
  g_shaderManager = new ShaderManager();
  ShaderManager& sm = *g_shaderManager;
  sm.m_programs.assign(12, nullptr);
  sm.m_programs[0] = buildShader("samplers", kTestVertexShader, kSamplerFragment);
  const GLuint id = sm.programId(0);
  ASSERT_NE(id, 0u);
  g_textureManager->bindSamplers(id);
  const auto* declared = g_textureManager->samplerNames(id);
  ASSERT_NE(declared, nullptr);
  // The record stops at the first missing number: _Normal_Map1 is not in it.
  EXPECT_EQ(*declared, (std::unordered_set<std::string>{"_Diffuse_Map0", "_Diffuse_Map1",
                                                         "_Shadow_Map0"}));
  ASSERT_TRUE(sm.useProgram(0));
  auto expectInts = [&](std::initializer_list<std::pair<const char*, int>> wanted) {
    for (const auto& w : wanted) EXPECT_EQ(uniformInt(id, w.first), w.second) << w.first;
  };

  GLuint textures[2];
  glGenTextures(2, textures);
  TextureSlots own;
  own.addTexture(textures[0], "_Normal_Map");   // not declared: consumes no unit
  own.addTexture(textures[1], "_Diffuse_Map");  // becomes _Diffuse_Map0, so takes unit 0
  EXPECT_EQ(sm.bindTextures(own), 3);
  expectInts({{"_Diffuse_Map0", 0}, {"is_Diffuse_Map0", 1}, {"is_Diffuse_Map1", 0},
              {"is_Shadow_Map0", 0}});
  const int unit1 = uniformInt(id, "_Diffuse_Map1"), unitShadow = uniformInt(id, "_Shadow_Map0");
  EXPECT_TRUE(unit1 != unitShadow && std::min(unit1, unitShadow) >= 1) << unit1 << unitShadow;

  // A light manager's set follows the object's own; the shadow map takes the next unit.
  TextureSlots lights;
  lights.addTexture(textures[0], "_Shadow_Map");
  EXPECT_EQ(sm.bindTextures(own, {&lights, nullptr}), 3);
  expectInts({{"_Shadow_Map0", 1}, {"is_Shadow_Map0", 1}, {"_Diffuse_Map1", 2},
              {"is_Diffuse_Map1", 0}});
  EXPECT_FALSE(sm.bindTexture("_Specular_Map0", 0, textures[0]));
  glDeleteTextures(2, textures);
}
