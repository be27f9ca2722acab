#include "render/texture.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "render/render_gl_fixture.h"

// Counting per base name shows in the shipped head's slots (the modeler's test).
TEST(TextureSlots, NamesCountAgainAfterClearing) {
  TextureSlots slots;
  slots.addTexture(7, "_Diffuse_Map");
  slots.clear();
  slots.addTexture(8, "_Diffuse_Map");
  EXPECT_EQ(slots.names, (std::vector<std::string>{"_Diffuse_Map0"}));
  // Without a hair material the hair slots are an empty set, not a null dereference.
  TextureSlots* saved = g_hairTextureSlots;
  g_hairTextureSlots = nullptr;
  EXPECT_TRUE(hairTextureSlots().names.empty());
  g_hairTextureSlots = saved;
}

class TextureManagerGL : public RenderGLTest {
 protected:
  std::string writeImage(const std::string& name, const cv::Mat& image) {
    const std::string path = rootPath("textures/" + name);
    writeFile("textures/.keep", "");
    EXPECT_TRUE(cv::imwrite(path, image)) << path;
    return path;
  }
  static GLint internalFormat(GLuint texture) {
    GLint value = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &value);
    return value;
  }
  // Texel (x, y) of level 0 as floats, y from the bottom as GL stores it.
  static std::vector<float> texel(GLuint texture, int w, int h, int x, int y, int channels) {
    std::vector<float> all(static_cast<size_t>(w) * h * channels);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, channels == 3 ? GL_RGB : GL_RGBA, GL_FLOAT, all.data());
    const auto at = all.begin() + (static_cast<size_t>(y) * w + x) * channels;
    return std::vector<float>(at, at + channels);
  }
  std::string load(Texture*& texture, const std::string& path, int type) {
    testing::internal::CaptureStdout();
    texture = g_textureManager->loadTexture(path, type);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(TextureManagerGL, CachesByFileNameAndType) {
  const std::string path = writeImage("red.png", cv::Mat(4, 4, CV_8UC3, cv::Scalar(0, 0, 255)));
  Texture* first = g_textureManager->loadTexture(path, 1);
  ASSERT_TRUE(first && first->m_id != 0u);
  EXPECT_EQ(g_textureManager->loadTexture(path, 1), first);
  // The same file as another type is a new texture; the first stays alive for slots holding it.
  Texture* asNormal = g_textureManager->loadTexture(path, 6);
  EXPECT_NE(asNormal, first);
  EXPECT_EQ(g_textureManager->m_cache.at(path), asNormal);
  EXPECT_TRUE(glIsTexture(first->m_id));

  Texture* unknown = first;
  EXPECT_EQ(load(unknown, path, 4), "unknown texture type 4 filename: " + path + "\n");
  EXPECT_EQ(unknown, nullptr);
}

TEST_F(TextureManagerGL, ImagesThatCannotBeUsedKeepTheirSlotWithIdZero) {
  Texture* missing = nullptr;
  EXPECT_EQ(load(missing, rootPath("textures/none.png"), 1), "");  // silent: callers report it
  ASSERT_TRUE(missing && missing->m_id == 0u);
  // Once the image is there, the next load reads it instead of the cached failure.
  writeImage("none.png", cv::Mat(4, 4, CV_8UC3, cv::Scalar(0, 255, 0)));
  Texture* added = g_textureManager->loadTexture(rootPath("textures/none.png"), 1);
  ASSERT_TRUE(added && added->m_id != 0u);

  const std::string grey = writeImage("grey.png", cv::Mat(4, 4, CV_8UC1, cv::Scalar(128)));
  Texture* greyTexture = nullptr;
  EXPECT_EQ(load(greyTexture, grey, 1), "unknow image data format: 0 of image " + grey + "\n");
  ASSERT_TRUE(greyTexture && greyTexture->m_id == 0u);
}

TEST_F(TextureManagerGL, UploadsFlippedImagesOfEachDepth) {
  // 8-bit RGBA, top row blue, bottom row green: GL row 0 must be the bottom (green) row.
  cv::Mat rgba(2, 3, CV_8UC4, cv::Scalar(0, 255, 0, 255));
  rgba.row(0).setTo(cv::Scalar(255, 0, 0, 255));
  GLuint id = 0;
  ASSERT_TRUE(loadImageTexture(id, writeImage("rows.png", rgba)));
  EXPECT_EQ(internalFormat(id), GL_RGBA8);
  EXPECT_EQ(texel(id, 3, 2, 0, 0, 4), (std::vector<float>{0, 1, 0, 1}));
  EXPECT_EQ(texel(id, 3, 2, 2, 1, 4), (std::vector<float>{0, 0, 1, 1}));
  glDeleteTextures(1, &id);

  // 16-bit RGB with an odd width (row bytes not a multiple of 4).
  ASSERT_TRUE(loadImageTexture(id, writeImage("deep.png", cv::Mat(3, 3, CV_16UC3,
                                                                  cv::Scalar(0, 32768, 65535)))));
  EXPECT_EQ(internalFormat(id), GL_RGB16);
  const std::vector<float> t16 = texel(id, 3, 3, 1, 1, 3), bgr = {1.0f, 0.5f, 0.0f};
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(t16[c], bgr[c], 1e-4) << c;
  glDeleteTextures(1, &id);

  // 64-bit: the codecs at hand write no such files, so the decoded image goes in directly.
  ASSERT_TRUE(uploadImageTexture(id, cv::Mat(2, 2, CV_64FC4, cv::Scalar(0.25, 0.5, 0.75, 1.0)),
                                 "doubles"));
  EXPECT_EQ(internalFormat(id), GL_RGBA32F);
  EXPECT_EQ(texel(id, 2, 2, 1, 1, 4), (std::vector<float>{0.75f, 0.5f, 0.25f, 1.0f}));  // BGRA
  glDeleteTextures(1, &id);
  EXPECT_EQ(drainGLErrors(), 0u);
}

TEST_F(TextureManagerGL, PixelTexturesAreCachedByNameAndNeedPixels) {
  const uint8_t pixels[2 * 2 * 4] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 9, 9, 9, 9};
  Texture* texture = g_textureManager->loadTextureFromPixels("controller", 2, 2, pixels);
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(g_textureManager->loadTextureFromPixels("controller", 2, 2, pixels), texture);
  // No pixels: kept, with no texture object.
  EXPECT_EQ(g_textureManager->loadTextureFromPixels("broken", 2, 2, nullptr)->m_id, 0u);
  GLint unpackRowLength = -1;
  glGetIntegerv(GL_UNPACK_ROW_LENGTH, &unpackRowLength);
  EXPECT_EQ(unpackRowLength, 0) << "uploads leave GL's unpack state as they found it";
}
