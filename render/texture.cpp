#include "render/texture.h"

#include <assimp/material.h>

#include <iostream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "core/cout_line.h"
#include "platform/files.h"

TextureManager* g_textureManager = nullptr;
TextureSlots* g_hairTextureSlots = nullptr;

const TextureSlots& hairTextureSlots() {
  static const TextureSlots empty;
  return g_hairTextureSlots ? *g_hairTextureSlots : empty;
}

Texture::~Texture() {
  if (m_id != 0) glDeleteTextures(1, &m_id);
}

void TextureSlots::addTexture(GLuint texture, const std::string& baseName) {
  ids.push_back(texture);
  int& count = counters[baseName];
  names.push_back(baseName + std::to_string(count));
  ++count;
}

void TextureSlots::clear() {
  names.clear();
  ids.clear();
  counters.clear();
}

TextureManager::TextureManager() = default;

TextureManager::~TextureManager() {
  for (auto& entry : m_cache) delete entry.second;
  for (Texture* texture : m_displaced) delete texture;
  m_cache.clear();
  m_displaced.clear();
  m_typeNames.clear();
  m_samplers.clear();
}

void TextureManager::registerTypeNames() {
  m_typeNames[1] = "_Diffuse_Map";
  m_typeNames[2] = "_Specular_Map";
  m_typeNames[6] = "_Normal_Map";
  m_typeNames[8] = "_Alpha_Map";
  m_typeNames[9] = "_Disp_Map";
  m_typeNames[10] = "_AO_Map";
  m_typeNames[3] = "_Brightness_Map";
  m_typeNames[13] = "_Random_Map";
  m_typeNames[14] = "_Shadow_Map";
  m_typeNames[15] = "_Visible_Map";
}

std::string TextureManager::typeName(int type) const {
  const auto found = m_typeNames.find(type);
  return found == m_typeNames.end() ? std::string() : found->second;
}

void TextureManager::store(const std::string& key, Texture* texture) {
  auto found = m_cache.find(key);
  if (found != m_cache.end()) {
    m_displaced.push_back(found->second);
    found->second = texture;
  } else {
    m_cache[key] = texture;
  }
}

Texture* TextureManager::loadTexture(const std::string& path, int type) {
  const std::string name = typeName(type);
  // A file that failed to load is tried again, so an image the user adds later is picked up.
  const auto cached = m_cache.find(path);
  if (cached != m_cache.end() && !name.empty() && cached->second->m_typeName == name &&
      cached->second->m_id != 0)
    return cached->second;
  if (name.empty()) {
    coutLine("unknown texture type ", type, " filename: ", path);
    return nullptr;
  }
  Texture* texture = new Texture(name);
  loadImageTexture(texture->m_id, path);
  texture->m_file = path;
  store(path, texture);
  return texture;
}

Texture* TextureManager::loadTextureFromPixels(const std::string& name, int width, int height,
                                               const uint8_t* pixels) {
  const std::string type = typeName(1);
  const auto cached = m_cache.find(name);
  if (cached != m_cache.end() && cached->second->m_typeName == type) return cached->second;
  Texture* texture = new Texture(type);
  uploadTexture(texture->m_id, width, height, pixels);
  texture->m_file = name;
  store(name, texture);
  return texture;
}

void TextureManager::loadMaterialTextures(const aiMaterial* material, const std::string& folder,
                                          TextureSlots& slots) {
  if (!material) return;
  for (const auto& entry : m_typeNames) {
    const aiTextureType type = static_cast<aiTextureType>(entry.first);
    const unsigned count = aiGetMaterialTextureCount(material, type);
    for (unsigned i = 0; i < count; ++i) {
      aiString path;
      if (aiGetMaterialTexture(material, type, i, &path) != aiReturn_SUCCESS) continue;
      Texture* texture = loadTexture(folder + "/" + path.C_Str(), entry.first);
      if (texture) slots.addTexture(texture->m_id, texture->m_typeName);
    }
  }
}

void TextureManager::bindSamplers(GLuint program) {
  if (m_samplers.count(program)) return;
  std::unordered_set<std::string> names;
  names.max_load_factor(1.0f);
  names.rehash(8);
  glUseProgram(program);
  for (const auto& entry : m_typeNames) {
    // Samplers of a type are numbered from 0 without gaps; the first missing number ends them.
    for (int k = 0;; ++k) {
      const std::string name = entry.second + std::to_string(k);
      if (glGetUniformLocation(program, name.c_str()) < 0) break;
      names.insert(name);
    }
  }
  glUseProgram(0);
  m_samplers[program] = std::move(names);
}

const std::unordered_set<std::string>* TextureManager::samplerNames(GLuint program) const {
  const auto found = m_samplers.find(program);
  return found == m_samplers.end() ? nullptr : &found->second;
}

namespace {

// Largest anisotropy the driver offers, or 0 when it offers none.
float maxAnisotropy() {
  if (!GLEW_ARB_texture_filter_anisotropic && !GLEW_EXT_texture_filter_anisotropic) return 0.0f;
  float value = 0.0f;
  glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &value);
  return value;
}

// Puts the unpack state back to GL's defaults so that later uploads see a clean slate.
void resetUnpackState() {
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

}  // namespace

void reportUnloadedImage(const Texture& texture, const char* what) {
  if (texture.m_id == 0) coutLine(what, " ", texture.m_file, " is missing or cannot be decoded");
}

bool uploadTexture(GLuint& id, int width, int height, const uint8_t* pixels) {
  id = 0;
  if (!pixels || width <= 0 || height <= 0) return false;
  glGenTextures(1, &id);
  if (id == 0) return false;
  glBindTexture(GL_TEXTURE_2D, id);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, width);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  const float anisotropy = maxAnisotropy();
  if (anisotropy > 0.0f) glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, anisotropy);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  glGenerateMipmap(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  resetUnpackState();
  return true;
}

bool imageUploadFormat(int cvType, ImageUploadFormat& out) {
  switch (cvType) {
    case CV_8UC3: out = {GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE}; return true;
    case CV_16UC3: out = {GL_RGB16, GL_BGR, GL_UNSIGNED_SHORT}; return true;
    case CV_32FC3:
    case CV_64FC3: out = {GL_RGB32F, GL_BGR, GL_FLOAT}; return true;
    case CV_8UC4: out = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE}; return true;
    case CV_16UC4: out = {GL_RGBA16, GL_BGRA, GL_UNSIGNED_SHORT}; return true;
    case CV_32FC4:
    case CV_64FC4: out = {GL_RGBA32F, GL_BGRA, GL_FLOAT}; return true;
    default: return false;
  }
}

bool loadImageTexture(GLuint& id, const std::string& path) {
  id = 0;
  if (path.empty()) return false;
  // A missing image is the callers' to report; keep the decoder from warning about it too.
  if (!platform::isReadableFile(path)) return false;
  cv::Mat image;
  try {
    image = cv::imread(path, cv::IMREAD_UNCHANGED);
    if (image.empty()) return false;
    cv::flip(image, image, 0);  // OpenGL's row 0 is the bottom row
  } catch (const cv::Exception& e) {
    coutLine("cannot read image ", path, ": ", e.what());
    return false;
  }
  return uploadImageTexture(id, image, path);
}

bool uploadImageTexture(GLuint& id, cv::Mat image, const std::string& path) {
  id = 0;
  if (image.empty()) return false;
  ImageUploadFormat format;
  if (!imageUploadFormat(image.type(), format)) {
    coutLine("unknow image data format: ", image.type(), " of image ", path);
    return false;
  }
  // GL cannot take doubles as pixel data; halve the precision once here.
  if (image.depth() == CV_64F) {
    try {
      image.convertTo(image, CV_32F);
    } catch (const cv::Exception& e) {
      coutLine("cannot convert image ", path, ": ", e.what());
      return false;
    }
  }
  glGenTextures(1, &id);
  if (id == 0) return false;
  glBindTexture(GL_TEXTURE_2D, id);
  const size_t rowBytes = image.step[0];
  glPixelStorei(GL_UNPACK_ALIGNMENT, rowBytes % 4 == 0 ? 4 : 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(rowBytes / image.elemSize()));
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
  }  // leave only this upload's error to read
  glTexImage2D(GL_TEXTURE_2D, 0, format.internalFormat, image.cols, image.rows, 0, format.format,
               format.type, image.data);
  const GLenum error = glGetError();
  glBindTexture(GL_TEXTURE_2D, 0);
  resetUnpackState();
  if (error != GL_NO_ERROR) {
    // A texture without an image would sample as black; report it as missing instead.
    coutLine("cannot upload image ", path, " (GL error ", error, ")");
    glDeleteTextures(1, &id);
    id = 0;
    return false;
  }
  return true;
}
