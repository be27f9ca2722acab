#include "render/texture.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "render/render_gl_fixture.h"

TEST(TextureSlots, NamesCountPerBaseName) {
  TextureManager manager;
  manager.registerTypeNames();
  TextureSlots slots;
  slots.addTexture(11, manager.typeName(1));
  slots.addTexture(12, manager.typeName(1));
  slots.addTexture(13, manager.typeName(6));
  EXPECT_EQ(slots.names,
            (std::vector<std::string>{"_Diffuse_Map0", "_Diffuse_Map1", "_Normal_Map0"}));
  EXPECT_EQ(slots.ids, (std::vector<GLuint>{11, 12, 13}));
  TextureSlots copy = slots;
  copy.addTexture(14, "_Diffuse_Map");
  EXPECT_EQ(copy.names.back(), "_Diffuse_Map2");
  slots.clear();
  slots.addTexture(15, "_Diffuse_Map");
  EXPECT_EQ(slots.names, (std::vector<std::string>{"_Diffuse_Map0"}));

  EXPECT_EQ(manager.typeName(4), "");
  EXPECT_EQ(manager.m_typeNames.count(4), 0u);
}

TEST(TextureSlots, MissingHairMaterialGivesEmptySlots) {
  TextureSlots* saved = g_hairTextureSlots;
  g_hairTextureSlots = nullptr;
  EXPECT_TRUE(hairTextureSlots().names.empty());
  TextureSlots hair;
  hair.addTexture(3, "_Alpha_Map");
  g_hairTextureSlots = &hair;
  EXPECT_EQ(hairTextureSlots().names.size(), 1u);
  g_hairTextureSlots = saved;
}

TEST(ImageUploadFormat, DoublesBecomeFloatsAndOtherLayoutsAreRefused) {
  ImageUploadFormat f{};
  // Doubles are converted before upload: GL never sees GL_DOUBLE pixels.
  ASSERT_TRUE(imageUploadFormat(CV_64FC3, f));
  EXPECT_EQ(f.internalFormat, GL_RGB32F);
  EXPECT_EQ(f.type, static_cast<GLenum>(GL_FLOAT));
  EXPECT_FALSE(imageUploadFormat(CV_8UC1, f));
  EXPECT_FALSE(imageUploadFormat(CV_8UC2, f));
  EXPECT_FALSE(imageUploadFormat(CV_16SC3, f));
}

class TextureManagerGL : public RenderGLTest {
 protected:
  std::string writeImage(const std::string& name, const cv::Mat& image) {
    const std::string path = rootPath("textures/" + name);
    writeFile("textures/.keep", "");
    EXPECT_TRUE(cv::imwrite(path, image)) << path;
    return path;
  }

  static GLint levelParameter(GLuint texture, GLenum what) {
    GLint value = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, what, &value);
    glBindTexture(GL_TEXTURE_2D, 0);
    return value;
  }

  // Texel (x, y) of level 0 as floats; y counts from the bottom as GL stores it.
  static std::vector<float> texel(GLuint texture, int width, int x, int y, int channels) {
    const GLint height = levelParameter(texture, GL_TEXTURE_HEIGHT);
    std::vector<float> all(static_cast<size_t>(width) * height * channels);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, channels == 3 ? GL_RGB : GL_RGBA, GL_FLOAT, all.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    const size_t at = (static_cast<size_t>(y) * width + x) * channels;
    return std::vector<float>(all.begin() + at, all.begin() + at + channels);
  }
};

TEST_F(TextureManagerGL, CachesByFileNameAndType) {
  cv::Mat image(4, 4, CV_8UC3, cv::Scalar(0, 0, 255));  // BGR: red
  const std::string path = writeImage("red.png", image);
  Texture* first = g_textureManager->loadTexture(path, 1);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first->m_id, 0u);
  EXPECT_EQ(first->m_typeName, "_Diffuse_Map");
  EXPECT_EQ(first->m_file, path);
  EXPECT_EQ(g_textureManager->loadTexture(path, 1), first);
  EXPECT_EQ(g_textureManager->m_cache.size(), 1u);

  // The same file as another type is a new texture; the first stays alive for slots holding it.
  Texture* asNormal = g_textureManager->loadTexture(path, 6);
  ASSERT_NE(asNormal, nullptr);
  EXPECT_NE(asNormal, first);
  EXPECT_EQ(g_textureManager->m_cache.at(path), asNormal);
  EXPECT_TRUE(glIsTexture(first->m_id));

  testing::internal::CaptureStdout();
  EXPECT_EQ(g_textureManager->loadTexture(path, 4), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "unknown texture type 4 filename: " + path + "\n");
}

TEST_F(TextureManagerGL, ImagesThatCannotBeUsedKeepTheirSlotWithIdZero) {
  // Missing file: no message, a cached texture without an image.
  testing::internal::CaptureStdout();
  Texture* missing = g_textureManager->loadTexture(rootPath("textures/none.png"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->m_id, 0u);

  // Grey-scale image: the format message with OpenCV type 0, and no texture object.
  const std::string grey = writeImage("grey.png", cv::Mat(4, 4, CV_8UC1, cv::Scalar(128)));
  testing::internal::CaptureStdout();
  Texture* greyTexture = g_textureManager->loadTexture(grey, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "unknow image data format: 0 of image " + grey + "\n");
  ASSERT_NE(greyTexture, nullptr);
  EXPECT_EQ(greyTexture->m_id, 0u);

  // Slots still take it, so the sampler's "is" flag goes to 0 at draw time.
  TextureSlots slots;
  slots.addTexture(greyTexture->m_id, greyTexture->m_typeName);
  EXPECT_EQ(slots.ids, (std::vector<GLuint>{0}));
}

TEST_F(TextureManagerGL, UploadsFlippedImagesOfEachDepth) {
  // 8-bit RGBA, top row blue, bottom row green: GL row 0 must be the bottom (green) row.
  cv::Mat rgba(2, 3, CV_8UC4, cv::Scalar(0, 255, 0, 255));
  rgba.row(0).setTo(cv::Scalar(255, 0, 0, 255));
  const std::string path8 = writeImage("rows.png", rgba);
  GLuint id = 0;
  ASSERT_TRUE(loadImageTexture(id, path8));
  EXPECT_EQ(levelParameter(id, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA8);
  EXPECT_EQ(texel(id, 3, 0, 0, 4), (std::vector<float>{0, 1, 0, 1}));
  EXPECT_EQ(texel(id, 3, 2, 1, 4), (std::vector<float>{0, 0, 1, 1}));
  glDeleteTextures(1, &id);

  // 16-bit RGB with an odd width (row bytes not a multiple of 4).
  cv::Mat rgb16(3, 3, CV_16UC3, cv::Scalar(0, 32768, 65535));
  const std::string path16 = writeImage("deep.png", rgb16);
  ASSERT_TRUE(loadImageTexture(id, path16));
  EXPECT_EQ(levelParameter(id, GL_TEXTURE_INTERNAL_FORMAT), GL_RGB16);
  const std::vector<float> t16 = texel(id, 3, 1, 1, 3);
  EXPECT_NEAR(t16[0], 1.0f, 1e-4);
  EXPECT_NEAR(t16[1], 0.5f, 1e-3);
  EXPECT_NEAR(t16[2], 0.0f, 1e-4);
  glDeleteTextures(1, &id);
  EXPECT_EQ(drainGLErrors(), 0u);
}

TEST_F(TextureManagerGL, SixtyFourBitImageIsConvertedToFloat) {
  // The codecs at hand write no 64-bit colour files, so the decoded image goes in directly.
  cv::Mat doubles(2, 2, CV_64FC4, cv::Scalar(0.25, 0.5, 0.75, 1.0));
  GLuint id = 0;
  ASSERT_TRUE(uploadImageTexture(id, doubles, "doubles"));
  EXPECT_EQ(levelParameter(id, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA32F);
  // BGRA in the image: red is the third value.
  EXPECT_EQ(texel(id, 2, 1, 1, 4), (std::vector<float>{0.75f, 0.5f, 0.25f, 1.0f}));
  glDeleteTextures(1, &id);
  cv::Mat rgbDoubles(1, 3, CV_64FC3, cv::Scalar(1.0, 0.0, 0.5));
  ASSERT_TRUE(uploadImageTexture(id, rgbDoubles, "rgb doubles"));
  EXPECT_EQ(levelParameter(id, GL_TEXTURE_INTERNAL_FORMAT), GL_RGB32F);
  EXPECT_EQ(texel(id, 3, 2, 0, 3), (std::vector<float>{0.5f, 0.0f, 1.0f}));
  glDeleteTextures(1, &id);
  EXPECT_EQ(drainGLErrors(), 0u);
}

TEST_F(TextureManagerGL, PixelTexturesAreCachedByName) {
  const uint8_t pixels[2 * 2 * 4] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 9, 9, 9, 9};
  Texture* texture = g_textureManager->loadTextureFromPixels("controller", 2, 2, pixels);
  ASSERT_NE(texture, nullptr);
  EXPECT_NE(texture->m_id, 0u);
  EXPECT_EQ(texture->m_typeName, "_Diffuse_Map");
  EXPECT_EQ(g_textureManager->loadTextureFromPixels("controller", 2, 2, pixels), texture);
  EXPECT_EQ(texel(texture->m_id, 2, 1, 0, 4), (std::vector<float>{0, 1, 0, 1}));
  // No pixels: kept, with no texture object.
  Texture* empty = g_textureManager->loadTextureFromPixels("broken", 2, 2, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->m_id, 0u);
  GLint unpackRowLength = -1;
  glGetIntegerv(GL_UNPACK_ROW_LENGTH, &unpackRowLength);
  EXPECT_EQ(unpackRowLength, 0) << "uploads leave GL's unpack state as they found it";
}
