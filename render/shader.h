#pragma once
#include <GL/glew.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/core_object.h"
#include "core/vec.h"

struct TextureSlots;

// Vertex attribute slots a0 to a6 (location = slot): position, texture coordinates, normal,
// tangent, bitangent, colour, one scalar. Their float counts build every vertex layout.
constexpr int kAttributeSlots = 7;
extern const std::array<uint32_t, kAttributeSlots> g_attributeFloatCounts;

// One shader program: base path under the asset path (".vs" and ".fs" appended), which attribute
// slots its vertices carry, and the floats per vertex that makes.
struct ShaderEntry {
  const char* path;
  bool flags[kAttributeSlots];
  uint32_t floatsPerVertex;
};

// The twelve programs; a render object's shader index is an index into this table.
// Constant-initialised, so usable from any static initialiser.
constexpr int kShaderCount = 12;
extern const std::array<ShaderEntry, kShaderCount> g_shaderTable;

// One compiled and linked program.
class Shader {
 public:
  Shader() = default;
  // Reads both sources, compiles and links. built() says whether that gave a usable program.
  Shader(const std::string& vertexPath, const std::string& fragmentPath);
  virtual ~Shader() = default;
  Shader(const Shader&) = delete;
  Shader& operator=(const Shader&) = delete;

  // Makes the program current and sets its constant uniforms (the two default lights).
  virtual void setUniforms();

  // False when a source could not be read or the program did not compile or link; m_id is 0
  // then and nothing is drawn with this entry.
  bool built() const { return m_built; }
  // Prints the driver's log when the shader ("VERTEX", "FRAGMENT") or program ("PROGRAM")
  // failed; returns whether it succeeded.
  static bool checkCompileErrors(GLuint object, const std::string& type);

  GLuint m_id = 0;
  // Locations of the uniforms every draw sets, looked up once at link (-1 when absent).
  GLint m_matrixLocation = -1;
  GLint m_modelLocation = -1;
  GLint m_viewPosLocation = -1;
  GLint m_opacityLocation = -1;
  GLint m_colorLocation = -1;

 protected:
  bool m_built = false;
};

// The hair program: also loads the strand-shading parameters from
// asset_path + "shaders/pbr_hair_parameters.txt", writing the defaults there when it cannot.
class HairShader : public Shader {
 public:
  using Shader::Shader;
  void setUniforms() override;
};

class LightManager;
class CameraManager;
// Their shadow maps and current camera image are bound after each object's own textures.
// Null until the model registry makes them.
extern LightManager* g_lightManager;
extern CameraManager* g_cameraManager;

// Owns the twelve programs, knows the current and the forced one, and sets uniforms by name.
class ShaderManager : public coreObject {
 public:
  ShaderManager();
  ~ShaderManager() override;
  ShaderManager(const ShaderManager&) = delete;
  ShaderManager& operator=(const ShaderManager&) = delete;

  // Builds the twelve programs from the asset path's shader sources and records their samplers
  // with g_textureManager. Entries that fail stay with program id 0.
  void loadShaders();

  // Makes program `index` current (m_current = index). False, with nothing bound, when the index
  // is outside the table or that entry has no program.
  bool useProgram(uint32_t index);
  // The program object of an entry, 0 when it has none.
  GLuint programId(uint32_t index) const;

  GLint uniformLocation(uint32_t shader, const char* name) const;
  void setUniformFloat(uint32_t shader, const char* name, float value);

  // Presence tests and setters on the current program. Opacity is sent only when it moved by at
  // least 0.01 from the program's last value, colour when the squared distance is at least 1e-4.
  bool hasUniformMatrix() const { return currentLocation(&Shader::m_matrixLocation) >= 0; }
  void setUniformMatrix(const float* matrix16);
  bool hasUniformModel() const { return currentLocation(&Shader::m_modelLocation) >= 0; }
  void setUniformModel(const float* matrix16);
  bool hasUniformViewPos() const { return currentLocation(&Shader::m_viewPosLocation) >= 0; }
  void setUniformViewPos(const float* position3);
  bool hasUniformOpacity() const { return currentLocation(&Shader::m_opacityLocation) >= 0; }
  void setUniformOpacity(float opacity);
  bool hasUniformColor() const { return currentLocation(&Shader::m_colorLocation) >= 0; }
  void setUniformColor(const float* rgba);

  // Sent to every program that declares the uniform; the current program stays current.
  // "m_lightPos<index>" and "m_lightSpaceMatrix<index>".
  void setLight(int index, const float* position3, const float* lightSpace16);
  void setLightColor(int index, const float* rgb);
  void setVisibleSpaceMatrix(const float* matrix16);
  void setViewMatrix(const float* matrix16);

  // Binds one texture to a sampler of the current program and sets its "is" + sampler flag.
  // False when the program has no such sampler (no unit used).
  bool bindTexture(const std::string& sampler, int unit, GLuint texture);
  // Binds an object's textures, then the light and camera managers', to consecutive units;
  // samplers the program declares but nobody supplies get texture 0 (their "is" flag 0).
  // Returns the number of units used.
  int bindTextures(const TextureSlots& slots);
  // The same with the shared sets given explicitly (null entries are skipped).
  int bindTextures(const TextureSlots& slots, std::initializer_list<const TextureSlots*> shared);

  std::vector<Shader*> m_programs;
  uint32_t m_current = 0;
  // -2 no pass; -1 a pass keeping every object's own program; 0 to 11 a pass drawing all with it.
  int32_t m_forced = -2;
  std::vector<float> m_opacityCache;
  std::vector<Vec<4, float>> m_colorCache;

 private:
  GLuint currentId() const { return programId(m_current); }
  // One of the current program's cached draw-uniform locations; -1 without a program.
  GLint currentLocation(GLint Shader::*location) const;
  // Sets `name` on every program that declares it through `set`, then rebinds the current one.
  template <typename Setter>
  void setOnAllPrograms(const std::string& name, Setter set);
  void deletePrograms();
};

extern ShaderManager* g_shaderManager;
