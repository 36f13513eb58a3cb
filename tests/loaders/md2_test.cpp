#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>
#include "assets/md2.h"
#include "data/embedded.h"
#include "platform/gl.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Vertex {
    uint8_t x, y, z;
};

struct ModelSpec {
    float scale[3] = {100.0f / 255.0f, 100.0f / 255.0f, 100.0f / 255.0f};
    float translate[3] = {-50.0f, -100.0f, -50.0f};
    std::vector<std::vector<Vertex>> frames;
    std::vector<int32_t> commands;   // words; floats for s and t are written as 0
};

void put32(Bytes& b, size_t at, int32_t v) {
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = uint8_t(uint32_t(v) >> (8 * i));
    if (at + 4 <= b.size())
        std::memcpy(b.data() + at, bytes, 4);
}

// A version 8 file: header, frames, then the command words.
Bytes buildModel(const ModelSpec& m) {
    int32_t vertices = m.frames.empty() ? 0 : int32_t(m.frames[0].size());
    int32_t frameSize = 40 + 4 * vertices;
    int32_t framesOffset = 68;
    int32_t commandsOffset = framesOffset + frameSize * int32_t(m.frames.size());
    int32_t end = commandsOffset + 4 * int32_t(m.commands.size());
    Bytes b(size_t(end), 0);
    const int32_t head[17] = {0x32504449, 8, -1, -1, frameSize, 0, vertices, 0, 7,
                              int32_t(m.commands.size()), int32_t(m.frames.size()),
                              68, 68, 68, framesOffset, commandsOffset, end};
    for (int i = 0; i < 17; ++i)
        put32(b, size_t(i) * 4, head[i]);
    size_t at = size_t(framesOffset);
    for (const auto& frame : m.frames) {
        std::memcpy(&b[at], m.scale, 12);
        std::memcpy(&b[at + 12], m.translate, 12);
        std::memcpy(&b[at + 24], "Frame 1", 7);
        for (size_t v = 0; v < frame.size(); ++v) {
            b[at + 40 + v * 4] = frame[v].x;
            b[at + 41 + v * 4] = frame[v].y;
            b[at + 42 + v * 4] = frame[v].z;
        }
        at += size_t(frameSize);
    }
    for (size_t i = 0; i < m.commands.size(); ++i)
        put32(b, size_t(commandsOffset) + i * 4, m.commands[i]);
    return b;
}

// Appends a command of the given indices (s = t = 0).
void command(ModelSpec& m, int32_t count, std::initializer_list<int32_t> indices) {
    m.commands.push_back(count);
    for (int32_t i : indices) {
        m.commands.push_back(0);
        m.commands.push_back(0);
        m.commands.push_back(i);
    }
}

struct Triangle {
    float v[3][3];
};

// Draws through feedback mode with a projection that maps object units to
// window units one to one (x + 64, y + 64), and returns the triangles.
std::vector<Triangle> capture(const Md2Model& model, int32_t frame, int32_t divisor) {
    ensureGlContext();
    static GLfloat buffer[1 << 16];
    glViewport(0, 0, 128, 128);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-64, 64, -64, 64, -64, 64);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_CULL_FACE);
    glFeedbackBuffer(1 << 16, GL_3D, buffer);
    glRenderMode(GL_FEEDBACK);
    md2DrawFrame(&model, frame, divisor);
    GLint n = glRenderMode(GL_RENDER);
    std::vector<Triangle> out;
    for (GLint i = 0; i < n;) {
        EXPECT_EQ(buffer[i], GLfloat(GL_POLYGON_TOKEN));
        int count = int(buffer[i + 1]);
        EXPECT_EQ(count, 3);
        Triangle t;
        for (int v = 0; v < 3; ++v) {
            t.v[v][0] = buffer[i + 2 + v * 3] - 64.0f;
            t.v[v][1] = buffer[i + 3 + v * 3] - 64.0f;
            t.v[v][2] = (0.5f - buffer[i + 4 + v * 3]) * 128.0f;
        }
        out.push_back(t);
        i += 2 + count * 3;
    }
    return out;
}

bool same(const float* got, float x, float y, float z) {
    return std::fabs(got[0] - x) < 1e-3f && std::fabs(got[1] - y) < 1e-3f && std::fabs(got[2] - z) < 1e-3f;
}

// Four corners of the file's box: (0,0,0) (255,0,0) (0,255,0) (0,0,255).
ModelSpec cornerModel() {
    ModelSpec m;
    m.frames.push_back({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
    return m;
}

bool loadBytes(Md2Model* model, const Bytes& b) {
    return md2LoadMemory(model, b.data(), uint32_t(b.size()));
}

}  // namespace

TEST(Md2Loader, RejectsBadHeadersWithTheErrorBox) {
    ModelSpec m = cornerModel();
    command(m, 3, {0, 1, 2});
    m.commands.push_back(0);
    Bytes good = buildModel(m);

    Bytes version7 = good;
    put32(version7, 4, 7);
    Bytes ident = good;
    ident[3] = '3';
    Bytes shortHeader(good.begin(), good.begin() + 67);

    for (const Bytes* bad : {&version7, &ident, &shortHeader}) {
        BoxRecorder boxes;
        Md2Model model{};
        ASSERT_TRUE(loadBytes(&model, good));
        EXPECT_FALSE(loadBytes(&model, *bad));
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, "MD2 : Invalide Header!");
        EXPECT_EQ(boxes.boxes[0].caption, "MD2 : Error ...");
        EXPECT_EQ(boxes.boxes[0].icon, PLAT_ICON_ERROR);
        // The failed load leaves zero counts, so nothing is drawn.
        EXPECT_EQ(model.commandCount, 0);
        EXPECT_EQ(model.frameCount, 0);
        EXPECT_TRUE(capture(model, 0, 20).empty());
    }
}

TEST(Md2Loader, MissingFileAndRealFile) {
    BoxRecorder boxes;
    Md2Model model{};
    EXPECT_FALSE(md2Load(&model, "no such directory/model.md2"));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "MD2 : File not found!");
    EXPECT_EQ(boxes.boxes[0].caption, "MD2 : Error ...");
    EXPECT_EQ(boxes.boxes[0].icon, PLAT_ICON_ERROR);

    ModelSpec m = cornerModel();
    command(m, -3, {0, 1, 3});
    m.commands.push_back(0);
    Bytes file = buildModel(m);
    char path[] = "/tmp/md2_testXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* out = fdopen(fd, "wb");
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
    EXPECT_TRUE(md2Load(&model, path));
    std::remove(path);
    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(model.frameCount, 1);
    EXPECT_EQ(model.commandCount, 11);
    EXPECT_EQ(model.frameSize, 56);
    EXPECT_EQ(model.triangleCount, 7);
    EXPECT_EQ(capture(model, 0, 20).size(), 1u);
}

TEST(Md2Renderer, SwapsAxesAndScalesByTheDivisor) {
    ModelSpec m = cornerModel();
    command(m, 3, {0, 1, 2});
    command(m, 3, {3, 2, 1});
    m.commands.push_back(0);
    Md2Model model{};
    ASSERT_TRUE(loadBytes(&model, buildModel(m)));
    std::vector<Triangle> t = capture(model, 0, 20);
    ASSERT_EQ(t.size(), 2u);
    // file (0,0,0) -> (-50, -100, -50): x -2.5, y = z -> -2.5, z = -y -> 5
    EXPECT_TRUE(same(t[0].v[0], -2.5f, -2.5f, 5.0f));
    // file x 255 -> 50 -> 2.5
    EXPECT_TRUE(same(t[0].v[1], 2.5f, -2.5f, 5.0f));
    // file y 255 -> 0 -> z 0
    EXPECT_TRUE(same(t[0].v[2], -2.5f, -2.5f, 0.0f));
    // file z 255 -> 50 -> y 2.5
    EXPECT_TRUE(same(t[1].v[0], -2.5f, 2.5f, 5.0f));

    t = capture(model, 0, 10);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_TRUE(same(t[0].v[1], 5.0f, -5.0f, 10.0f));
}

TEST(Md2Renderer, StripsFansAndEmptyLists) {
    ModelSpec m;
    m.frames.push_back({{0, 0, 0}, {255, 0, 0}, {255, 0, 255}, {0, 0, 255}, {128, 0, 128}});
    command(m, -5, {4, 0, 1, 2, 3});   // fan: 3 triangles around vertex 4
    command(m, 4, {0, 1, 3, 2});       // strip: 2 triangles
    m.commands.push_back(0);
    Md2Model model{};
    ASSERT_TRUE(loadBytes(&model, buildModel(m)));
    std::vector<Triangle> t = capture(model, 0, 20);
    ASSERT_EQ(t.size(), 5u);
    for (int i = 0; i < 3; ++i)   // every fan triangle holds the centre
        EXPECT_TRUE(same(t[i].v[0], 0.0098f, 0.0098f, 5.0f) || same(t[i].v[1], 0.0098f, 0.0098f, 5.0f) ||
                    same(t[i].v[2], 0.0098f, 0.0098f, 5.0f))
            << i;

    ModelSpec empty = cornerModel();
    empty.commands = {0, 3, 0, 0, 0, 0, 0, 1, 0, 0, 2};
    ASSERT_TRUE(loadBytes(&model, buildModel(empty)));
    EXPECT_TRUE(capture(model, 0, 20).empty());
}

TEST(Md2Loader, RefusesFilesWhoseBlocksDoNotFit) {
    ModelSpec m = cornerModel();
    command(m, 3, {0, 1, 2});
    m.commands.push_back(0);
    Bytes good = buildModel(m);
    struct Patch {
        size_t at;
        int32_t value;
    } patches[] = {
        {56, int32_t(good.size())},       // frames past the end
        {60, int32_t(good.size()) - 8},   // commands run past the end
        {36, 0x40000000},                 // huge command count
        {40, 0x7FFFFFFF},                 // huge frame count
        {16, 0x7FFFFFFF},                 // huge frame size
        {16, 40 + 4 * 3},                 // frame too small for its 4 vertices
        {24, -1},                         // negative vertex count
        {36, -5},                         // negative command count
        {56, -68},                        // negative offset
    };
    for (const Patch& p : patches) {
        Bytes bad = good;
        put32(bad, p.at, p.value);
        BoxRecorder boxes;
        Md2Model model{};
        EXPECT_FALSE(loadBytes(&model, bad)) << p.at << " " << p.value;
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, "MD2 : Invalide Header!");
        EXPECT_TRUE(capture(model, 0, 20).empty());
    }
}

TEST(Md2Renderer, SkipsWhatItCannotRead) {
    ModelSpec m = cornerModel();
    command(m, 3, {0, 1, 4});          // index past the frame's 4 vertices
    command(m, 3, {0, -1, 2});         // negative index
    command(m, 3, {0, 1, 2});          // drawn
    std::vector<int32_t> big = {351};  // longer than the vertex buffer
    for (int i = 0; i < 351; ++i)
        big.insert(big.end(), {0, 0, i % 4});
    m.commands.insert(m.commands.end(), big.begin(), big.end());
    command(m, 3, {3, 2, 1});          // drawn
    command(m, 3, {0, 1});             // runs past the end of the list: stop
    Md2Model model{};
    ASSERT_TRUE(loadBytes(&model, buildModel(m)));
    EXPECT_EQ(capture(model, 0, 20).size(), 2u);
    EXPECT_TRUE(capture(model, 1, 20).empty());
    EXPECT_TRUE(capture(model, -1, 20).empty());
    EXPECT_TRUE(capture(model, INT_MIN, 20).empty());

    // A list without its closing 0 ends with its last word; INT_MIN counts stop.
    ModelSpec open = cornerModel();
    command(open, 3, {0, 1, 2});
    open.commands.push_back(INT_MIN);
    ASSERT_TRUE(loadBytes(&model, buildModel(open)));
    EXPECT_EQ(capture(model, 0, 20).size(), 1u);

    // A command of exactly 350 vertices still fits.
    ModelSpec full = cornerModel();
    full.commands.push_back(350);
    for (int i = 0; i < 350; ++i)
        full.commands.insert(full.commands.end(), {0, 0, i % 4});
    full.commands.push_back(0);
    ASSERT_TRUE(loadBytes(&model, buildModel(full)));
    EXPECT_EQ(capture(model, 0, 20).size(), 348u);
}

TEST(EmbeddedModel, LoadsAndDrawsItsStrips) {
    if (embeddedModelSize <= 1)
        GTEST_SKIP() << "embedded model not generated yet";
    BoxRecorder boxes;
    Md2Model model{};
    ASSERT_TRUE(md2LoadMemory(&model, embeddedModel, embeddedModelSize));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(model.frameCount, 1);
    EXPECT_EQ(model.frameSize, 1236);
    EXPECT_EQ(model.commandCount, 6141);
    EXPECT_EQ(model.triangleCount, 614);
    std::vector<Triangle> t = capture(model, 0, 20);
    EXPECT_EQ(t.size(), 614u);
    float low = 1e9f, high = -1e9f;
    for (const Triangle& tri : t)
        for (const auto& v : tri.v) {
            low = std::fmin(low, v[0]);
            high = std::fmax(high, v[0]);
        }
    EXPECT_NEAR(low, -2.5f, 1e-3f);
    EXPECT_NEAR(high, 2.5f, 1e-3f);
}
