#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "assets/tga.h"
#include "data/embedded.h"
#include "platform/gl.h"
#include "platform/platform.h"
#include "test_support.h"
#ifdef HAVE_CONTENT_GENERATOR
#include "content.h"
#endif

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes header(uint8_t type, uint32_t width, uint32_t height, uint8_t bits) {
    return {0, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0, uint8_t(width), uint8_t(width >> 8),
            uint8_t(height), uint8_t(height >> 8), bits, 0};
}

void append(Bytes& b, std::initializer_list<uint8_t> more) {
    b.insert(b.end(), more);
}

// Decodes through the reader the header names, keeping the pixels.
bool decode(TgaImage* image, const Bytes& file) {
    ByteReader s;
    readerOpenMemory(&s, file.data(), uint32_t(file.size()));
    uint8_t first[12];
    EXPECT_EQ(readerRead(&s, first, 12), 12u);
    return first[2] == 10 ? readTgaRle(image, &s) : readTgaUncompressed(image, &s);
}

struct FailureCase {
    const char* name;
    Bytes file;
    const char* text;
    const char* caption;
};

std::vector<FailureCase> failureCases() {
    std::vector<FailureCase> c;
    c.push_back({"short file header", {0, 0, 2, 0, 0}, "Could not read file header", "ERROR"});
    Bytes idField = header(2, 1, 1, 24);
    idField[0] = 1;
    c.push_back({"image id", idField, "TGA file be type 2 or type 10 ", "Invalid Image"});
    Bytes colourMap = header(10, 1, 1, 24);
    colourMap[1] = 1;
    c.push_back({"colour map", colourMap, "TGA file be type 2 or type 10 ", "Invalid Image"});
    Bytes origin = header(2, 1, 1, 24);
    origin[10] = 4;
    c.push_back({"y origin", origin, "TGA file be type 2 or type 10 ", "Invalid Image"});
    c.push_back({"grey type 3", header(3, 1, 1, 8), "TGA file be type 2 or type 10 ", "Invalid Image"});
    Bytes shortInfo = header(2, 1, 1, 24);
    shortInfo.resize(16);
    c.push_back({"short info", shortInfo, "Could not read info header", "ERROR"});
    c.push_back({"width 0", header(2, 0, 1, 24), "Invalid texture information", "ERROR"});
    c.push_back({"height 0", header(10, 1, 0, 24), "Invalid texture information", "ERROR"});
    c.push_back({"16 bits", header(2, 1, 1, 16), "Invalid texture information", "ERROR"});
    c.push_back({"8 bits rle", header(10, 1, 1, 8), "Invalid texture information", "ERROR"});
    // 65535 x 65535 x 4 bytes is more than any buffer the loader will ask for.
    c.push_back({"huge", header(2, 65535, 65535, 32), "Could not allocate memory for image", "ERROR"});
    Bytes shortData = header(2, 2, 2, 24);
    shortData.resize(shortData.size() + 11);
    c.push_back({"short type 2 data", shortData, "Could not read image data", "ERROR"});
    Bytes shortRaw = header(10, 2, 1, 24);
    append(shortRaw, {1, 1, 2, 3, 4, 5});
    c.push_back({"short raw pixel", shortRaw, "Could not read image data", "ERROR"});
    Bytes noPacket = header(10, 2, 1, 24);
    append(noPacket, {0, 1, 2, 3});
    c.push_back({"missing packet header", noPacket, "Could not read RLE header", "ERROR"});
    Bytes shortRun = header(10, 2, 1, 32);
    append(shortRun, {129, 1, 2, 3});
    c.push_back({"short run pixel", shortRun, "Could not read from file", "ERROR"});
    Bytes tooManyRun = header(10, 2, 2, 24);
    append(tooManyRun, {132, 1, 2, 3});
    c.push_back({"run one pixel too long", tooManyRun, "Too many pixels read", "ERROR"});
    Bytes tooManyRaw = header(10, 2, 1, 24);
    append(tooManyRaw, {2, 1, 1, 1, 2, 2, 2, 3, 3, 3});
    c.push_back({"raw one pixel too long", tooManyRaw, "Too many pixels read", "ERROR"});
    return c;
}

}  // namespace

TEST(TgaLoader, EveryFailureShowsOneBoxAndLeavesNoTexture) {
    ensureGlContext();
    for (const FailureCase& f : failureCases()) {
        BoxRecorder boxes;
        TgaImage image{};
        image.textureId = 4321;
        EXPECT_FALSE(loadTgaTextureMemory(&image, f.file.data(), uint32_t(f.file.size()))) << f.name;
        ASSERT_EQ(boxes.boxes.size(), 1u) << f.name;
        EXPECT_EQ(boxes.boxes[0].text, f.text) << f.name;
        EXPECT_EQ(boxes.boxes[0].caption, f.caption) << f.name;
        EXPECT_EQ(boxes.boxes[0].icon, PLAT_ICON_NONE) << f.name;
        EXPECT_EQ(image.textureId, 4321u) << f.name;
        EXPECT_EQ(image.pixels, nullptr) << f.name;
    }
}

TEST(TgaLoader, FilePathsKeepTheirMessages) {
    ensureGlContext();
    BoxRecorder boxes;
    TgaImage image{};
    EXPECT_FALSE(loadTgaTexture(&image, "no such directory/none.tga"));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Could not open texture file");
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR");
    EXPECT_FALSE(loadTgaTextureMemory(&image, nullptr, 0));
    EXPECT_EQ(boxes.boxes.size(), 2u);

    // A real file: a 32-bit type 2 image of one pixel.
    Bytes file = header(2, 1, 1, 32);
    append(file, {10, 20, 30, 40});
    char path[] = "/tmp/tga_testXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* out = fdopen(fd, "wb");
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
    EXPECT_TRUE(loadTgaTexture(&image, path));
    std::remove(path);
    EXPECT_EQ(boxes.boxes.size(), 2u);
    EXPECT_NE(image.textureId, 0u);
    uint8_t texel[4] = {};
    glBindTexture(GL_TEXTURE_2D, image.textureId);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    EXPECT_EQ(texel[0], 30);
    EXPECT_EQ(texel[1], 20);
    EXPECT_EQ(texel[2], 10);
    EXPECT_EQ(texel[3], 40);
}

TEST(TgaLoader, UploadsRowsInFileOrderWithRepeatAndLinear) {
    ensureGlContext();
    // 3 x 2 at 24 bits: rows of 9 bytes, which the upload must not pad.
    Bytes file = header(2, 3, 2, 24);
    for (uint8_t i = 0; i < 6; ++i)
        append(file, {uint8_t(i * 10 + 1), uint8_t(i * 10 + 2), uint8_t(i * 10 + 3)});
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    TgaImage image{};
    ASSERT_TRUE(loadTgaTextureMemory(&image, file.data(), uint32_t(file.size())));
    EXPECT_EQ(image.format, uint32_t(GL_RGB));
    EXPECT_EQ(image.bitsPerPixel, 24u);
    EXPECT_EQ(image.pixels, nullptr);
    glBindTexture(GL_TEXTURE_2D, image.textureId);
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &value);
    EXPECT_EQ(value, 3);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &value);
    EXPECT_EQ(value, 0);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &value);
    EXPECT_EQ(value, GL_REPEAT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &value);
    EXPECT_EQ(value, GL_REPEAT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &value);
    EXPECT_EQ(value, GL_LINEAR);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &value);
    EXPECT_EQ(value, GL_LINEAR);
    uint8_t texels[18] = {};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(texels[i * 3], i * 10 + 3) << i;
        EXPECT_EQ(texels[i * 3 + 1], i * 10 + 2) << i;
        EXPECT_EQ(texels[i * 3 + 2], i * 10 + 1) << i;
    }
}

TEST(TgaReaders, ThirtyTwoBitsKeepAlpha) {
    ensureGlContext();
    Bytes file = header(10, 2, 1, 32);
    append(file, {0, 1, 2, 3, 4, 128, 5, 6, 7, 8});
    TgaImage image{};
    ASSERT_TRUE(decode(&image, file));
    EXPECT_EQ(image.format, uint32_t(GL_RGBA));
    const uint8_t want[8] = {3, 2, 1, 4, 7, 6, 5, 8};
    EXPECT_EQ(std::memcmp(image.pixels.get(), want, 8), 0);

    TgaImage uploaded{};
    ASSERT_TRUE(loadTgaTextureMemory(&uploaded, file.data(), uint32_t(file.size())));
    glBindTexture(GL_TEXTURE_2D, uploaded.textureId);
    GLint alpha = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alpha);
    EXPECT_GT(alpha, 0);
}

TEST(TgaReaders, PacketLengthsAtTheirLimits) {
    BoxRecorder boxes;
    // run 128 (1 pixel), run 255 (128), raw 0 (1), raw 127 (128): 258 pixels.
    Bytes file = header(10, 258, 1, 24);
    append(file, {128, 1, 2, 3});
    append(file, {255, 4, 5, 6});
    append(file, {0, 7, 8, 9});
    file.push_back(127);
    for (int i = 0; i < 128; ++i)
        append(file, {uint8_t(i), uint8_t(i + 1), uint8_t(i + 2)});
    TgaImage image{};
    ASSERT_TRUE(decode(&image, file));
    EXPECT_TRUE(boxes.boxes.empty());
    const uint8_t* p = image.pixels.get();
    auto pixelIs = [&](int n, int r, int g, int b) {
        return p[n * 3] == r && p[n * 3 + 1] == g && p[n * 3 + 2] == b;
    };
    EXPECT_TRUE(pixelIs(0, 3, 2, 1));
    for (int n = 1; n <= 128; ++n)
        EXPECT_TRUE(pixelIs(n, 6, 5, 4)) << n;
    EXPECT_TRUE(pixelIs(129, 9, 8, 7));
    for (int i = 0; i < 128; ++i)
        EXPECT_TRUE(pixelIs(130 + i, i + 2, i + 1, i)) << i;
}

TEST(TgaReaders, LastPacketMayEndExactlyAtTheImage) {
    BoxRecorder boxes;
    Bytes file = header(10, 3, 3, 24);
    append(file, {136, 9, 9, 9});   // 9 pixels
    file.insert(file.end(), 26, 0xEE);   // footer-like trailing bytes are ignored
    TgaImage image{};
    EXPECT_TRUE(decode(&image, file));
    EXPECT_TRUE(boxes.boxes.empty());
    file[18] = 137;                 // 10 pixels
    TgaImage over{};
    EXPECT_FALSE(decode(&over, file));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Too many pixels read");
    EXPECT_EQ(over.pixels, nullptr);
}

TEST(EmbeddedImages, DecodeToTheGeneratedPixels) {
    ensureGlContext();
    struct Embedded {
        const uint8_t* data;
        uint32_t size;
    } images[] = {{titleCardImage, titleCardImageSize}, {smileyImage, smileyImageSize}};
    if (titleCardImageSize <= 1 || smileyImageSize <= 1)
        GTEST_SKIP() << "embedded images not generated yet";
    std::vector<std::vector<uint8_t>> greys;
#ifdef HAVE_CONTENT_GENERATOR
    greys.push_back(titleCardPixels());
    greys.push_back(smileyPixels());
#endif
    for (size_t i = 0; i < 2; ++i) {
        BoxRecorder boxes;
        TgaImage image{};
        ASSERT_TRUE(decode(&image, Bytes(images[i].data, images[i].data + images[i].size))) << i;
        EXPECT_EQ(image.width, 128u);
        EXPECT_EQ(image.height, 128u);
        EXPECT_EQ(image.format, uint32_t(GL_RGB));
        const uint8_t* p = image.pixels.get();
        for (int n = 0; n < 128 * 128; ++n) {
            ASSERT_TRUE(p[n * 3] == p[n * 3 + 1] && p[n * 3] == p[n * 3 + 2]) << "pixel " << n;
            if (!greys.empty()) {
                ASSERT_EQ(p[n * 3], greys[i][n]) << "image " << i << " pixel " << n;
            }
        }
        TgaImage uploaded{};
        EXPECT_TRUE(loadTgaTextureMemory(&uploaded, images[i].data, images[i].size));
        EXPECT_NE(uploaded.textureId, 0u);
        EXPECT_TRUE(boxes.boxes.empty());
    }
    // The outline of the title card: row 53 from the bottom, white from column 15 to 109.
    TgaImage title{};
    ASSERT_TRUE(decode(&title, Bytes(titleCardImage, titleCardImage + titleCardImageSize)));
    for (int x = 0; x < 128; ++x)
        EXPECT_EQ(title.pixels[(53 * 128 + x) * 3], x >= 15 && x <= 109 ? 255 : 0) << x;
}
