#include "render/shader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/text_file.h"
#include "quillax.pb.h"
#include "render/model_render.h"
#include "render/render_gl_fixture.h"
#include "render/texture.h"

namespace {

// A program declaring two diffuse samplers and a shadow map (no normal map); every sampler and
// flag is used so the compiler keeps it active.
const char* kSamplerFragment = R"(#version 410 core
uniform sampler2D _Diffuse_Map0;
uniform sampler2D _Diffuse_Map1;
uniform sampler2D _Shadow_Map0;
uniform int is_Diffuse_Map0;
uniform int is_Diffuse_Map1;
uniform int is_Shadow_Map0;
out vec4 fragColor;
void main() {
  vec2 uv = gl_FragCoord.xy;
  fragColor = texture(_Diffuse_Map0, uv) * float(is_Diffuse_Map0)
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
  // The hair row: position, uv, normal, tangent and the scalar, no bitangent or colour.
  EXPECT_EQ(shaderRowLayout(7, locations, sizes), 12u);
  const int hairLocations[] = {0, 1, 2, 3, -1, -1, 6};
  const uint32_t hairSizes[] = {3, 2, 3, 3, 0, 0, 1};
  for (int s = 0; s < kAttributeSlots; ++s) {
    EXPECT_EQ(locations[s], hairLocations[s]) << s;
    EXPECT_EQ(sizes[s], hairSizes[s]) << s;
  }
  EXPECT_EQ(shaderRowLayout(12, locations, sizes), 0u);
}

using ShaderManagerGL = RenderGLTest;

TEST_F(ShaderManagerGL, TwelveShippedProgramsCompileAndLink) {
  const std::string out = loadShaders();
  EXPECT_EQ(out.find("ERROR::"), std::string::npos) << out;
  ASSERT_EQ(g_shaderManager->m_programs.size(), 12u);
  for (int i = 0; i < 12; ++i) {
    ASSERT_NE(g_shaderManager->m_programs[i], nullptr);
    EXPECT_TRUE(g_shaderManager->m_programs[i]->built()) << g_shaderTable[i].path;
    EXPECT_NE(g_shaderManager->programId(i), 0u) << g_shaderTable[i].path;
  }
  EXPECT_NE(dynamic_cast<HairShader*>(g_shaderManager->m_programs[7]), nullptr);
  EXPECT_EQ(g_shaderManager->m_forced, -2);
  EXPECT_EQ(drainGLErrors(), 0u);
}

TEST_F(ShaderManagerGL, BrokenEntriesReportAndDrawNothingWhileOthersLoad) {
  std::filesystem::remove(rootPath("shaders/simple_color_in.fs"));
  writeFile("shaders/lambert_solid.fs", "#version 410 core\nvoid main() { nonsense; }\n");
  const std::string out = loadShaders();
  EXPECT_NE(out.find("ERROR::SHADER::FILE_NOT_SUCCESFULLY_READ\n"), std::string::npos) << out;
  EXPECT_NE(out.find("ERROR::SHADER_COMPILATION_ERROR of type: FRAGMENT\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("\n -- --------------------------------------------------- -- \n"),
            std::string::npos);
  for (int broken : {1, 4}) {
    EXPECT_FALSE(g_shaderManager->m_programs[broken]->built());
    EXPECT_EQ(g_shaderManager->programId(broken), 0u);
    EXPECT_FALSE(g_shaderManager->useProgram(broken));
    EXPECT_FALSE(g_shaderManager->hasUniformMatrix());
  }
  EXPECT_TRUE(g_shaderManager->useProgram(0));
  EXPECT_TRUE(g_shaderManager->m_programs[2]->built());
}

TEST_F(ShaderManagerGL, OpacityAndColourAreSentOnlyPastTheirThresholds) {
  loadShaders();
  ShaderManager& sm = *g_shaderManager;
  ASSERT_TRUE(sm.useProgram(2));
  ASSERT_TRUE(sm.hasUniformOpacity());
  ASSERT_TRUE(sm.hasUniformColor());
  const GLuint id = sm.programId(2);

  sm.setUniformOpacity(1.0f);  // first value always goes (cache -1)
  EXPECT_FLOAT_EQ(uniformFloat(id, "m_opacity"), 1.0f);
  sm.setUniformOpacity(0.995f);
  EXPECT_FLOAT_EQ(uniformFloat(id, "m_opacity"), 1.0f);
  EXPECT_FLOAT_EQ(sm.m_opacityCache[2], 1.0f);
  sm.setUniformOpacity(0.99f);
  EXPECT_NEAR(uniformFloat(id, "m_opacity"), 0.99f, 1e-6);

  auto colour = [&] {
    float c[4];
    glGetUniformfv(id, glGetUniformLocation(id, "m_color"), c);
    return Vec<4, float>(c[0], c[1], c[2], c[3]);
  };
  const float base[4] = {0.5f, 0.5f, 0.5f, 1.0f};
  sm.setUniformColor(base);
  EXPECT_EQ(colour(), (Vec<4, float>(0.5f, 0.5f, 0.5f, 1.0f)));
  const float nearBy[4] = {0.509f, 0.5f, 0.5f, 1.0f};
  sm.setUniformColor(nearBy);
  EXPECT_FLOAT_EQ(colour()[0], 0.5f);
  const float farther[4] = {0.511f, 0.5f, 0.5f, 1.0f};
  sm.setUniformColor(farther);
  EXPECT_FLOAT_EQ(colour()[0], 0.511f);

  // The caches are per program: program 3 still takes its first opacity.
  ASSERT_TRUE(sm.useProgram(3));
  EXPECT_FLOAT_EQ(sm.m_opacityCache[3], -1.0f);
}

TEST_F(ShaderManagerGL, SettersForAllProgramsKeepTheCurrentProgramBound) {
  loadShaders();
  ShaderManager& sm = *g_shaderManager;
  ASSERT_TRUE(sm.useProgram(2));
  const float position[3] = {1.0f, 2.0f, 3.0f};
  const float colour[3] = {0.25f, 0.5f, 0.75f};
  Matrix4 lightSpace;
  lightSpace[12] = 4.0f;
  sm.setLight(0, position, lightSpace.data());
  sm.setLightColor(0, colour);
  sm.setViewMatrix(lightSpace.data());
  GLint bound = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &bound);
  EXPECT_EQ(static_cast<GLuint>(bound), sm.programId(2));
  EXPECT_EQ(sm.m_current, 2u);

  int programsWithLight = 0;
  for (uint32_t i = 0; i < 12; ++i) {
    const GLuint id = sm.programId(i);
    const GLint at = glGetUniformLocation(id, "m_lightPos0");
    if (at < 0) continue;
    ++programsWithLight;
    float value[3];
    glGetUniformfv(id, at, value);
    EXPECT_FLOAT_EQ(value[1], 2.0f) << g_shaderTable[i].path;
  }
  EXPECT_GT(programsWithLight, 0);
}

TEST_F(ShaderManagerGL, HairParametersAreReadOrWrittenBackWithDefaults) {
  // Missing file: the defaults go to the program and to the file.
  std::filesystem::remove(rootPath("shaders/pbr_hair_parameters.txt"));
  loadShaders();
  const GLuint hair = g_shaderManager->programId(7);
  ASSERT_NE(hair, 0u);
  quillax::HairShaderParam written;
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("shaders/pbr_hair_parameters.txt").c_str(), &written));
  EXPECT_FLOAT_EQ(written.cutoff(), 0.55f);
  EXPECT_FLOAT_EQ(written.back_scatter_amount(), 100.0f);
  EXPECT_FLOAT_EQ(written.r_cone_angle(), -1.0f);
  EXPECT_FLOAT_EQ(uniformFloat(hair, "_Cutoff"), 0.55f);
  delete g_shaderManager;
  g_shaderManager = nullptr;

  // A file the user wrote is used as it stands; absent fields read 0.
  writeFile("shaders/pbr_hair_parameters.txt", "cutoff: 0.3\n");
  loadShaders();
  const GLuint again = g_shaderManager->programId(7);
  EXPECT_FLOAT_EQ(uniformFloat(again, "_Cutoff"), 0.3f);
  EXPECT_EQ(readFile("shaders/pbr_hair_parameters.txt"), "cutoff: 0.3\n");
}

TEST_F(ShaderManagerGL, BindTexturesGivesUnitsOnlyToDeclaredSamplers) {
  g_shaderManager = new ShaderManager();
  ShaderManager& sm = *g_shaderManager;
  sm.m_programs.assign(12, nullptr);
  sm.m_programs[0] = buildShader("samplers", kTestVertexShader, kSamplerFragment);
  ASSERT_TRUE(sm.m_programs[0]->built());
  const GLuint id = sm.programId(0);
  g_textureManager->bindSamplers(id);
  const auto* declared = g_textureManager->samplerNames(id);
  ASSERT_NE(declared, nullptr);
  EXPECT_EQ(declared->size(), 3u);
  ASSERT_TRUE(sm.useProgram(0));

  GLuint textures[2];
  glGenTextures(2, textures);
  TextureSlots own;
  own.addTexture(textures[0], "_Normal_Map");   // not declared: consumes no unit
  own.addTexture(textures[1], "_Diffuse_Map");  // becomes _Diffuse_Map0
  // _Normal_Map0 was skipped, so the diffuse texture takes unit 0.
  EXPECT_EQ(sm.bindTextures(own), 3);
  EXPECT_EQ(uniformInt(id, "_Diffuse_Map0"), 0);
  EXPECT_EQ(uniformInt(id, "is_Diffuse_Map0"), 1);
  EXPECT_EQ(uniformInt(id, "is_Diffuse_Map1"), 0);
  EXPECT_EQ(uniformInt(id, "is_Shadow_Map0"), 0);
  const int unit1 = uniformInt(id, "_Diffuse_Map1");
  const int unitShadow = uniformInt(id, "_Shadow_Map0");
  EXPECT_NE(unit1, unitShadow);
  EXPECT_GE(unit1, 1);
  EXPECT_GE(unitShadow, 1);

  // A light manager's set follows the object's own; the shadow map takes the next unit.
  TextureSlots lights;
  lights.addTexture(textures[0], "_Shadow_Map");
  EXPECT_EQ(sm.bindTextures(own, {&lights, nullptr}), 3);
  EXPECT_EQ(uniformInt(id, "_Shadow_Map0"), 1);
  EXPECT_EQ(uniformInt(id, "is_Shadow_Map0"), 1);
  EXPECT_EQ(uniformInt(id, "_Diffuse_Map1"), 2);
  EXPECT_EQ(uniformInt(id, "is_Diffuse_Map1"), 0);

  // A sampler the program does not declare takes no unit.
  EXPECT_EQ(sm.bindTexture("_Specular_Map0", 0, textures[0]), false);
  glDeleteTextures(2, textures);
}

TEST_F(ShaderManagerGL, SamplerRecordStopsAtTheFirstMissingNumber) {
  const char* fragment = R"(#version 410 core
uniform sampler2D _Diffuse_Map0;
uniform sampler2D _Diffuse_Map2;
out vec4 fragColor;
void main() { fragColor = texture(_Diffuse_Map0, vec2(0.5)) + texture(_Diffuse_Map2, vec2(0.5)); }
)";
  Shader* shader = buildShader("gap", kTestVertexShader, fragment);
  ASSERT_TRUE(shader->built());
  g_textureManager->bindSamplers(shader->m_id);
  const auto* names = g_textureManager->samplerNames(shader->m_id);
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(*names, (std::unordered_set<std::string>{"_Diffuse_Map0"}));
  glDeleteProgram(shader->m_id);
  delete shader;
}
