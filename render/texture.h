#pragma once
#include <GL/glew.h>

#include <cstdint>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/core_object.h"

struct aiMaterial;
namespace cv {
class Mat;
}

// One GL texture and where it came from. Owned by the TextureManager's cache.
struct Texture {
  Texture() = default;
  explicit Texture(const std::string& typeName) : m_typeName(typeName) {}
  ~Texture();
  Texture(const Texture&) = delete;
  Texture& operator=(const Texture&) = delete;

  GLuint m_id = 0;  // 0 while nothing usable was uploaded
  std::string m_typeName;
  std::string m_file;
};

// What an object samples: one sampler name per texture ("_Diffuse_Map0", "_Diffuse_Map1",
// "_Normal_Map0" ...), built from the type's base name and a running index per base name.
// Holds ids only; the textures belong to the TextureManager (or to the light and camera targets).
struct TextureSlots {
  std::vector<std::string> names;
  std::vector<GLuint> ids;
  std::map<std::string, int> counters;

  void addTexture(GLuint texture, const std::string& baseName);
  void clear();
};

// Loads every image once per file name and records, per program, the samplers it declares.
class TextureManager : public coreObject {
 public:
  TextureManager();
  ~TextureManager() override;
  TextureManager(const TextureManager&) = delete;
  TextureManager& operator=(const TextureManager&) = delete;

  // Fills the type table: 1 "_Diffuse_Map", 2 "_Specular_Map", 6 "_Normal_Map", 8 "_Alpha_Map",
  // 9 "_Disp_Map", 10 "_AO_Map", 3 "_Brightness_Map", 13 "_Random_Map", 14 "_Shadow_Map",
  // 15 "_Visible_Map" (ids of Assimp's material texture types where one exists).
  void registerTypeNames();
  // The sampler base name of a type id, empty when the id is not registered.
  std::string typeName(int type) const;

  // The texture of an image file, loaded on first use. Null only for an unregistered type; a file
  // that cannot be read or uploaded still gives a (cached) texture, with m_id 0.
  Texture* loadTexture(const std::string& path, int type);
  // A texture of type 1 from RGBA8 pixels (rows from the bottom), cached under `name`.
  Texture* loadTextureFromPixels(const std::string& name, int width, int height,
                                 const uint8_t* pixels);
  // Every texture of a material, by registered type in ascending id, added to `slots`.
  // Texture paths are relative to `folder`.
  void loadMaterialTextures(const aiMaterial* material, const std::string& folder,
                            TextureSlots& slots);
  // Records which sampler names of the registered types the program declares, once per program.
  void bindSamplers(GLuint program);
  // The recorded sampler names of a program, null when it was never recorded.
  const std::unordered_set<std::string>* samplerNames(GLuint program) const;

  std::map<std::string, Texture*> m_cache;
  std::map<int, std::string> m_typeNames;
  std::map<GLuint, std::unordered_set<std::string>> m_samplers;

 private:
  // Textures pushed out of the cache by a reload under another type; slots may still hold
  // their ids, so they live as long as the manager.
  std::vector<Texture*> m_displaced;
  void store(const std::string& key, Texture* texture);
};

extern TextureManager* g_textureManager;

// The hair material (alpha, albedo, normal, AO, brightness and random maps), filled at start-up.
// Null when the hair texture maps could not be read.
extern TextureSlots* g_hairTextureSlots;
// The hair material slots, or an empty set when they were never made.
const TextureSlots& hairTextureSlots();

// For an image the user's files name (hair and head maps): "<what> <file> is missing or cannot
// be decoded" when the texture holds no image, so a map that failed is not lost silently.
void reportUnloadedImage(const Texture& texture, const char* what);

// Uploads RGBA8 pixels (rows from the bottom) as a mipmapped, clamped texture; `id` is filled in.
// False (id 0) when there are no pixels, the size is not positive or GL gives no texture.
bool uploadTexture(GLuint& id, int width, int height, const uint8_t* pixels);
// Reads an image file of 3 or 4 channels (8- or 16-bit unsigned, 32- or 64-bit float) and
// uploads it as a repeating, linearly filtered texture; `id` is filled in. False, with id 0, when
// the file is missing or unreadable (silently) or has another layout (with a message).
bool loadImageTexture(GLuint& id, const std::string& path);
// The upload half of loadImageTexture, for an image already decoded with rows from the bottom;
// `path` only names it in messages.
bool uploadImageTexture(GLuint& id, cv::Mat image, const std::string& path);

// GL upload formats of an OpenCV element type (CV_8UC3 ...). False for a layout we do not upload.
// 64-bit float images are converted to 32-bit float before upload, so they report GL_FLOAT.
struct ImageUploadFormat {
  GLint internalFormat;
  GLenum format;
  GLenum type;
};
bool imageUploadFormat(int cvType, ImageUploadFormat& out);
