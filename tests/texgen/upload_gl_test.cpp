// The upload of generated textures in a real GL context.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "platform/platform.h"
#include "texgen/texgen.h"

namespace {

const PlatWindowDesc offscreen = {":)", 640, 480, PLAT_OFFSCREEN};
const PlatWindowCallbacks noCallbacks = {nullptr, nullptr, nullptr};

class GlEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_NE(platOpenWindow(&offscreen, &noCallbacks), nullptr);
    }
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new GlEnvironment);

}  // namespace

TEST(UploadGl, StoredTexturesArriveAsRgbaWithState) {
    Image** images = generateTextures(storedPrograms, nullptr);
    ASSERT_NE(images, nullptr);
    GLuint names[STORED_PROGRAM_COUNT];
    glGenTextures(storedProgramCount, names);
    std::vector<Image> expected(storedProgramCount);
    images[3]->pixels[0] = 0x00112233;   // a known texel
    for (int i = 0; i < storedProgramCount; i++) {
        expected[i] = *images[i];
        toUploadFormat(images[i], IMAGE_PIXELS);
        uploadTexture(images[i], names[i], IMAGE_SIZE, IMAGE_SIZE);
        freeImage(images[i]);
    }
    freeImageList(images);
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // Last bound texture and the state uploadTexture leaves.
    GLint bound = 0, alignment = 0, envMode = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
    EXPECT_EQ(static_cast<GLuint>(bound), names[storedProgramCount - 1]);
    EXPECT_EQ(alignment, 1);
    EXPECT_EQ(envMode, GL_MODULATE);

    std::vector<uint8_t> back(IMAGE_PIXELS * 4);
    for (int i = 0; i < storedProgramCount; i++) {
        glBindTexture(GL_TEXTURE_2D, names[i]);
        GLint width = 0, height = 0, wrapS = 0, wrapT = 0, mag = 0, min = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
        EXPECT_EQ(width, 256);
        EXPECT_EQ(height, 256);
        EXPECT_EQ(wrapS, GL_REPEAT);
        EXPECT_EQ(wrapT, GL_REPEAT);
        EXPECT_EQ(mag, GL_LINEAR);
        EXPECT_EQ(min, GL_LINEAR);

        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, back.data());
        for (int k = 0; k < IMAGE_PIXELS; k++) {
            uint32_t p = expected[i].pixels[k];
            const uint8_t* b = back.data() + 4 * k;
            ASSERT_EQ(b[0], (p >> 16) & 255) << "texture " << i << " texel " << k;
            ASSERT_EQ(b[1], (p >> 8) & 255) << "texture " << i << " texel " << k;
            ASSERT_EQ(b[2], p & 255) << "texture " << i << " texel " << k;
            ASSERT_EQ(b[3], 128) << "texture " << i << " texel " << k;
        }
    }
    glBindTexture(GL_TEXTURE_2D, names[3]);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, back.data());
    EXPECT_EQ(back[0], 0x11);
    EXPECT_EQ(back[1], 0x22);
    EXPECT_EQ(back[2], 0x33);
    EXPECT_EQ(back[3], 0x80);
    glDeleteTextures(storedProgramCount, names);
}
