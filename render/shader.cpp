#include "render/shader.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unordered_set>

#include "core/cout_line.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "quillax.pb.h"
#include "render/camera.h"
#include "render/light.h"
#include "render/texture.h"

const std::array<uint32_t, kAttributeSlots> g_attributeFloatCounts = {3, 2, 3, 3, 3, 3, 1};

// clang-format off
const std::array<ShaderEntry, kShaderCount> g_shaderTable = {{
    {"shaders/simple_color_out",            {1, 0, 0, 0, 0, 0, 0}, 3},
    {"shaders/simple_color_in",             {1, 0, 0, 0, 0, 1, 0}, 6},
    {"shaders/simple_texture_alphaCutout",  {1, 1, 0, 0, 0, 0, 0}, 5},
    {"shaders/simple_texture_whiteCutout",  {1, 1, 0, 0, 0, 0, 0}, 5},
    {"shaders/lambert_solid",               {1, 0, 1, 0, 0, 0, 0}, 6},
    {"shaders/lambert_texture_alphaCutout", {1, 1, 1, 0, 0, 0, 0}, 8},
    {"shaders/lambert_texture_blackCutout", {1, 1, 1, 0, 0, 0, 0}, 8},
    {"shaders/pbr_hair_alphaCutout",        {1, 1, 1, 1, 0, 0, 1}, 12},
    {"shaders/pbr_face",                    {1, 1, 1, 1, 1, 0, 0}, 14},
    {"shaders/lens_distortion",             {1, 0, 0, 0, 0, 0, 0}, 3},
    {"shaders/shadow_alphaCutout",          {1, 1, 0, 0, 0, 0, 0}, 5},
    {"shaders/normal_camera",               {1, 0, 1, 0, 0, 0, 0}, 6},
}};
// clang-format on

ShaderManager* g_shaderManager = nullptr;
LightManager* g_lightManager = nullptr;
CameraManager* g_cameraManager = nullptr;

namespace {

bool readWholeFile(const std::string& path, std::string& text) {
  std::ifstream file;
  file.exceptions(std::ifstream::failbit | std::ifstream::badbit);
  try {
    file.open(path);
    std::stringstream stream;
    stream << file.rdbuf();
    file.close();
    text = stream.str();
  } catch (const std::ios_base::failure&) {
    return false;
  }
  return true;
}

GLuint compileStage(GLenum stage, const std::string& source, const char* type, bool& ok) {
  const GLuint shader = glCreateShader(stage);
  if (shader == 0) {
    ok = false;
    return 0;
  }
  const char* text = source.c_str();
  glShaderSource(shader, 1, &text, nullptr);
  glCompileShader(shader);
  ok = Shader::checkCompileErrors(shader, type) && ok;
  return shader;
}

void setVec3IfPresent(GLuint program, const char* name, float x, float y, float z) {
  const GLint location = glGetUniformLocation(program, name);
  if (location >= 0) glUniform3f(location, x, y, z);
}

}  // namespace

Shader::Shader(const std::string& vertexPath, const std::string& fragmentPath) {
  std::string vertexCode;
  std::string fragmentCode;
  if (!readWholeFile(vertexPath, vertexCode) || !readWholeFile(fragmentPath, fragmentCode)) {
    coutLine("ERROR::SHADER::FILE_NOT_SUCCESFULLY_READ");
    return;
  }
  bool ok = true;
  const GLuint vertex = compileStage(GL_VERTEX_SHADER, vertexCode, "VERTEX", ok);
  const GLuint fragment = compileStage(GL_FRAGMENT_SHADER, fragmentCode, "FRAGMENT", ok);
  const GLuint program = glCreateProgram();
  if (program != 0 && vertex != 0 && fragment != 0) {
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    ok = checkCompileErrors(program, "PROGRAM") && ok;
  } else {
    ok = false;
  }
  if (vertex) glDeleteShader(vertex);
  if (fragment) glDeleteShader(fragment);
  // A program that did not link would draw garbage or raise GL errors at every draw: drop it.
  if (!ok) {
    if (program) glDeleteProgram(program);
    return;
  }
  m_id = program;
  m_built = true;
  m_matrixLocation = glGetUniformLocation(program, "m_matrix");
  m_modelLocation = glGetUniformLocation(program, "m_model");
  m_viewPosLocation = glGetUniformLocation(program, "m_viewPos");
  m_opacityLocation = glGetUniformLocation(program, "m_opacity");
  m_colorLocation = glGetUniformLocation(program, "m_color");
}

bool Shader::checkCompileErrors(GLuint object, const std::string& type) {
  GLint success = 0;
  GLchar log[1024] = {0};
  if (type == "PROGRAM") {
    glGetProgramiv(object, GL_LINK_STATUS, &success);
    if (!success) {
      glGetProgramInfoLog(object, sizeof(log), nullptr, log);
      coutLine("ERROR::PROGRAM_LINKING_ERROR of type: ", type, "\n", log,
               "\n -- --------------------------------------------------- -- ");
    }
  } else {
    glGetShaderiv(object, GL_COMPILE_STATUS, &success);
    if (!success) {
      glGetShaderInfoLog(object, sizeof(log), nullptr, log);
      coutLine("ERROR::SHADER_COMPILATION_ERROR of type: ", type, "\n", log,
               "\n -- --------------------------------------------------- -- ");
    }
  }
  return success != 0;
}

void Shader::setUniforms() {
  glUseProgram(m_id);
  setVec3IfPresent(m_id, "m_lightPos0", 0.0f, 1.0f, 0.0f);
  setVec3IfPresent(m_id, "m_lightColor0", 1.0f, 1.0f, 1.0f);
  setVec3IfPresent(m_id, "m_lightPos1", 0.3f, 1.5f, 0.3f);
  setVec3IfPresent(m_id, "m_lightColor1", 1.0f, 1.0f, 1.0f);
}

namespace {

void setHairDefaults(quillax::HairShaderParam& p) {
  p.set_cutoff(0.55f);
  p.set_bumpiness(1.0f);
  p.set_ao_scale(1.0f);
  p.set_brightness(1.0f);
  p.set_randomness(2.0f);
  p.set_ka(0.8f);
  p.set_kd(0.8f);
  p.set_r_width(0.215f);
  p.set_r_peak(0.06f);
  p.set_r_cone_angle(-1.0f);
  p.set_tt_width(0.217f);
  p.set_tt_peak(0.4f);
  p.set_tt_cone_angle(2.5f);
  p.set_tt_sharpness(4.0f);
  p.set_trt_width(0.25f);
  p.set_trt_peak(0.5f);
  p.set_trt_cone_angle(5.0f);
  p.set_scatter_amount(1.0f);
  p.set_back_scatter_amount(100.0f);
  p.set_back_scatter_power(15.0f);
}

}  // namespace

void HairShader::setUniforms() {
  Shader::setUniforms();
  const std::string path = g_parameters.asset_path() + "shaders/pbr_hair_parameters.txt";
  quillax::HairShaderParam p;
  const OwnFileRead read = readOwnTextFile(path, &p);
  if (read != OwnFileRead::Read) setHairDefaults(p);
  // The user's tuned shading survives a typo: only a missing file gets the defaults written.
  if (read == OwnFileRead::Missing) WriteProtoToTextFile(p, path.c_str());
  if (read == OwnFileRead::Kept) reportKeptFile("HairShader", path, "default hair parameters");
  const std::pair<const char*, float> values[] = {
      {"_Cutoff", p.cutoff()},
      {"_Bumpiness", p.bumpiness()},
      {"_AO_Scale", p.ao_scale()},
      {"_Brightness", p.brightness()},
      {"_Randomness", p.randomness()},
      {"_Ka", p.ka()},
      {"_Kd", p.kd()},
      {"_R_Width", p.r_width()},
      {"_R_Peak", p.r_peak()},
      {"_R_Cone_Angle", p.r_cone_angle()},
      {"_TT_Width", p.tt_width()},
      {"_TT_Peak", p.tt_peak()},
      {"_TT_Cone_Angle", p.tt_cone_angle()},
      {"_TT_Sharpness", p.tt_sharpness()},
      {"_TRT_Width", p.trt_width()},
      {"_TRT_Peak", p.trt_peak()},
      {"_TRT_Cone_Angle", p.trt_cone_angle()},
      {"_Scatter_Amount", p.scatter_amount()},
      {"_Back_Scatter_Amount", p.back_scatter_amount()},
      {"_Back_Scatter_Power", p.back_scatter_power()},
  };
  for (const auto& value : values) {
    const GLint location = glGetUniformLocation(m_id, value.first);
    if (location >= 0) glUniform1f(location, value.second);
  }
}

ShaderManager::ShaderManager()
    : m_opacityCache(kShaderCount, -1.0f), m_colorCache(kShaderCount, Vec<4, float>(-1.0f)) {}

ShaderManager::~ShaderManager() { deletePrograms(); }

void ShaderManager::deletePrograms() {
  for (Shader*& shader : m_programs) {
    if (shader && shader->m_id != 0) glDeleteProgram(shader->m_id);
    delete shader;
    shader = nullptr;
  }
  m_programs.clear();
}

void ShaderManager::loadShaders() {
  deletePrograms();
  m_opacityCache.assign(kShaderCount, -1.0f);
  m_colorCache.assign(kShaderCount, Vec<4, float>(-1.0f));
  m_programs.assign(kShaderCount, nullptr);
  for (int i = 0; i < kShaderCount; ++i) {
    const std::string base = g_parameters.asset_path() + g_shaderTable[i].path;
    Shader* shader = i == 7 ? new HairShader(base + ".vs", base + ".fs")
                            : new Shader(base + ".vs", base + ".fs");
    m_programs[i] = shader;
    if (shader->built()) {
      shader->setUniforms();
      if (g_textureManager) g_textureManager->bindSamplers(shader->m_id);
    }
  }
  const GLuint current = currentId();
  glUseProgram(current);
}

bool ShaderManager::useProgram(uint32_t index) {
  if (index >= m_programs.size()) return false;
  m_current = index;
  const GLuint id = programId(index);
  if (id == 0) return false;
  glUseProgram(id);
  return true;
}

GLuint ShaderManager::programId(uint32_t index) const {
  if (index >= m_programs.size() || !m_programs[index]) return 0;
  return m_programs[index]->m_id;
}

GLint ShaderManager::uniformLocation(uint32_t shader, const char* name) const {
  const GLuint id = programId(shader);
  return id == 0 ? -1 : glGetUniformLocation(id, name);
}

void ShaderManager::setUniformFloat(uint32_t shader, const char* name, float value) {
  glUniform1f(uniformLocation(shader, name), value);
}

GLint ShaderManager::currentLocation(GLint Shader::*location) const {
  if (m_current >= m_programs.size() || !m_programs[m_current]) return -1;
  const Shader& shader = *m_programs[m_current];
  return shader.m_id == 0 ? -1 : shader.*location;
}

void ShaderManager::setUniformMatrix(const float* matrix16) {
  glUniformMatrix4fv(currentLocation(&Shader::m_matrixLocation), 1, GL_FALSE, matrix16);
}

void ShaderManager::setUniformModel(const float* matrix16) {
  glUniformMatrix4fv(currentLocation(&Shader::m_modelLocation), 1, GL_FALSE, matrix16);
}

void ShaderManager::setUniformViewPos(const float* position3) {
  glUniform3fv(currentLocation(&Shader::m_viewPosLocation), 1, position3);
}

void ShaderManager::setUniformOpacity(float opacity) {
  if (m_current >= m_opacityCache.size()) return;
  float& cached = m_opacityCache[m_current];
  // The slack keeps decimal steps such as 1.0 to 0.99 (0.0099999 in binary) counted as 0.01.
  if (std::abs(opacity - cached) + 1e-6f < 0.01f) return;
  glUniform1f(currentLocation(&Shader::m_opacityLocation), opacity);
  cached = opacity;
}

void ShaderManager::setUniformColor(const float* rgba) {
  if (m_current >= m_colorCache.size()) return;
  Vec<4, float>& cached = m_colorCache[m_current];
  float distance = 0.0f;
  for (int i = 0; i < 4; ++i) distance += (rgba[i] - cached[i]) * (rgba[i] - cached[i]);
  if (distance + 1e-9f < 0.0001f) return;
  glUniform4fv(currentLocation(&Shader::m_colorLocation), 1, rgba);
  for (int i = 0; i < 4; ++i) cached[i] = rgba[i];
}

template <typename Setter>
void ShaderManager::setOnAllPrograms(const std::string& name, Setter set) {
  for (const Shader* shader : m_programs) {
    if (!shader || shader->m_id == 0) continue;
    const GLint location = glGetUniformLocation(shader->m_id, name.c_str());
    if (location < 0) continue;
    glUseProgram(shader->m_id);
    set(location);
  }
  // Draw code relies on the program of m_current being the one bound.
  glUseProgram(currentId());
}

void ShaderManager::setLight(int index, const float* position3, const float* lightSpace16) {
  const std::string suffix = std::to_string(index);
  setOnAllPrograms("m_lightPos" + suffix, [&](GLint at) { glUniform3fv(at, 1, position3); });
  setOnAllPrograms("m_lightSpaceMatrix" + suffix,
                   [&](GLint at) { glUniformMatrix4fv(at, 1, GL_FALSE, lightSpace16); });
}

void ShaderManager::setLightColor(int index, const float* rgb) {
  setOnAllPrograms("m_lightColor" + std::to_string(index),
                   [&](GLint at) { glUniform3fv(at, 1, rgb); });
}

void ShaderManager::setVisibleSpaceMatrix(const float* matrix16) {
  setOnAllPrograms("m_visibleSpaceMatrix",
                   [&](GLint at) { glUniformMatrix4fv(at, 1, GL_FALSE, matrix16); });
}

void ShaderManager::setViewMatrix(const float* matrix16) {
  setOnAllPrograms("m_viewMatrix",
                   [&](GLint at) { glUniformMatrix4fv(at, 1, GL_FALSE, matrix16); });
}

bool ShaderManager::bindTexture(const std::string& sampler, int unit, GLuint texture) {
  const GLuint id = currentId();
  if (id == 0) return false;
  const GLint location = glGetUniformLocation(id, sampler.c_str());
  if (location < 0) return false;
  const GLint isLocation = glGetUniformLocation(id, ("is" + sampler).c_str());
  if (isLocation >= 0) glUniform1i(isLocation, texture != 0 ? 1 : 0);
  glUniform1i(location, unit);
  if (texture != 0) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(GL_TEXTURE_2D, texture);
  }
  return true;
}

int ShaderManager::bindTextures(const TextureSlots& slots) {
  return bindTextures(slots, {g_lightManager ? &g_lightManager->m_textures : nullptr,
                              g_cameraManager ? &g_cameraManager->m_textures : nullptr});
}

int ShaderManager::bindTextures(const TextureSlots& slots,
                                std::initializer_list<const TextureSlots*> shared) {
  const std::unordered_set<std::string>* declared =
      g_textureManager ? g_textureManager->samplerNames(currentId()) : nullptr;
  if (!declared) return 0;
  std::unordered_set<std::string> remaining = *declared;
  int unit = 0;
  auto bindSet = [&](const TextureSlots& set) {
    const size_t count = std::min(set.names.size(), set.ids.size());
    for (size_t i = 0; i < count; ++i) {
      if (remaining.erase(set.names[i]) == 0) continue;
      if (bindTexture(set.names[i], unit, set.ids[i])) ++unit;
    }
  };
  bindSet(slots);
  for (const TextureSlots* set : shared)
    if (set) bindSet(*set);
  // Samplers nobody supplied: their "is" flag goes to 0 and they still take a unit of their own,
  // so no two sampler types ever share one.
  for (const std::string& name : remaining)
    if (bindTexture(name, unit, 0)) ++unit;
  return unit;
}
