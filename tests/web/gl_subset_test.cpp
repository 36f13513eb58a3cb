// The browser build's GL subset, natively: matrix stacks and display lists,
// observed through the triangles it hands to the flush.
#include <gtest/gtest.h>

#include <vector>

#include "platform/web/gl/glcore.h"

namespace {

std::vector<GlcVertex> drawn;

void collect(const GlcVertex* v, uint32_t count) {
    drawn.insert(drawn.end(), v, v + count);
}

struct GlSubset : ::testing::Test {
    void SetUp() override {
        glcReset();
        glcSetFlush(collect);
        drawn.clear();
    }
};

void expectMatrix(const GlcMatrix& actual, const float (&expected)[16]) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(actual.m[i], expected[i], 1e-5f) << "element " << i;
}

// One point through the current matrices, as clip coordinates.
std::vector<float> project(float x, float y, float z) {
    glcBegin(GLC_TRIANGLES);
    for (int i = 0; i < 3; ++i)
        glcVertex(x, y, z);
    glcEnd();
    drawn.clear();
    glcFlush();
    EXPECT_EQ(drawn.size(), 3u);
    return drawn.empty() ? std::vector<float>{} : std::vector<float>(drawn[0].position, drawn[0].position + 4);
}

}  // namespace

TEST_F(GlSubset, ProjectionAndCameraMatricesAreTheFixedPipelines) {
    glcMatrixMode(GLC_PROJECTION);
    glcOrtho(0.0, 640.0, 0.0, 480.0, -1.0, 1.0);
    const float ortho[16] = {2.0f / 640, 0, 0, 0, 0, 2.0f / 480, 0, 0, 0, 0, -1, 0, -1, -1, 0, 1};
    expectMatrix(glcTop(GLC_PROJECTION), ortho);

    glcLoadIdentity();
    glcPerspective(90.0, 4.0 / 3.0, 1.0, 3.0);
    const float perspective[16] = {0.75f, 0, 0, 0, 0, 1, 0, 0, 0, 0, -2, -1, 0, 0, -3, 0};
    expectMatrix(glcTop(GLC_PROJECTION), perspective);

    glcMatrixMode(GLC_MODELVIEW);
    glcLookAt(0.0, 0.0, 2.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
    const float camera[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -2, 1};
    expectMatrix(glcTop(GLC_MODELVIEW), camera);
    // Looking along +x from the origin: world x becomes depth in front (-z).
    glcLoadIdentity();
    glcLookAt(0.0, 0.0, 0.0, 5.0, 0.0, 0.0, 0.0, 1.0, 0.0);
    const float side[16] = {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1};
    expectMatrix(glcTop(GLC_MODELVIEW), side);

    // Composed: rotate a quarter turn about z, then move one along the rotated x.
    glcLoadIdentity();
    glcMatrixMode(GLC_PROJECTION);
    glcLoadIdentity();
    glcMatrixMode(GLC_MODELVIEW);
    glcTranslate(0.0f, 0.0f, -2.0f);
    glcRotate(90.0f, 0.0f, 0.0f, 3.0f);
    glcTranslate(1.0f, 0.0f, 0.0f);
    const std::vector<float> p = project(0.0f, 0.0f, 0.0f);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_NEAR(p[0], 0.0f, 1e-6f);
    EXPECT_NEAR(p[1], 1.0f, 1e-6f);
    EXPECT_NEAR(p[2], -2.0f, 1e-6f);
    EXPECT_NEAR(p[3], 1.0f, 1e-6f);
}

TEST_F(GlSubset, StacksAreSeparateAndReportUnderflow) {
    glcMatrixMode(GLC_PROJECTION);
    glcPushMatrix();
    glcTranslate(5.0f, 0.0f, 0.0f);
    glcMatrixMode(GLC_MODELVIEW);
    glcPushMatrix();
    glcTranslate(0.0f, 7.0f, 0.0f);
    EXPECT_EQ(glcStackDepth(GLC_MODELVIEW), 2);
    std::vector<float> p = project(0.0f, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(p[0], 5.0f);
    EXPECT_FLOAT_EQ(p[1], 7.0f);
    glcPopMatrix();
    glcMatrixMode(GLC_PROJECTION);
    glcPopMatrix();
    p = project(1.0f, 2.0f, 3.0f);
    EXPECT_FLOAT_EQ(p[0], 1.0f);
    EXPECT_FLOAT_EQ(p[1], 2.0f);
    EXPECT_EQ(glcTakeError(), static_cast<uint32_t>(GLC_NO_ERROR));
    glcPopMatrix();
    EXPECT_EQ(glcTakeError(), static_cast<uint32_t>(GLC_STACK_UNDERFLOW));
}

TEST_F(GlSubset, QuadsBecomeTwoTrianglesWithClampedColours) {
    glcColour(2.0f, 0.5f, -1.0f, 1.0f);
    glcBegin(GLC_QUADS);
    glcTexCoord(0.0f, 1.0f); glcVertex(0.0f, 0.0f, 0.0f);
    glcTexCoord(1.0f, 1.0f); glcVertex(1.0f, 0.0f, 0.0f);
    glcTexCoord(1.0f, 0.0f); glcVertex(1.0f, 1.0f, 0.0f);
    glcTexCoord(0.0f, 0.0f); glcVertex(0.0f, 1.0f, 0.0f);
    glcEnd();
    glcFlush();
    ASSERT_EQ(drawn.size(), 6u);
    EXPECT_FLOAT_EQ(drawn[0].colour[0], 1.0f);
    EXPECT_FLOAT_EQ(drawn[0].colour[1], 0.5f);
    EXPECT_FLOAT_EQ(drawn[0].colour[2], 0.0f);
    EXPECT_FLOAT_EQ(drawn[5].position[1], 1.0f);   // second triangle ends on the fourth corner
    EXPECT_FLOAT_EQ(drawn[5].texCoord[1], 0.0f);
}

TEST_F(GlSubset, ListsReplayTheirGeometryAndMatrixCalls) {
    // Two "glyphs": a quad and an advance, as the font records them.
    const uint32_t base = glcGenLists(256);
    ASSERT_NE(base, 0u);
    for (uint32_t code : {65u, 66u}) {
        glcNewList(base + code, GLC_COMPILE);
        glcBegin(GLC_QUADS);
        glcTexCoord(static_cast<float>(code), 0.0f);
        glcVertex(0.0f, 0.0f, 0.0f);
        glcVertex(1.0f, 0.0f, 0.0f);
        glcVertex(1.0f, 1.0f, 0.0f);
        glcVertex(0.0f, 1.0f, 0.0f);
        glcEnd();
        glcTranslate(10.0f, 0.0f, 0.0f);
        glcEndList();
    }
    glcFlush();
    EXPECT_TRUE(drawn.empty()) << "compiling draws nothing";

    glcListBase(base);
    const uint8_t text[] = {'A', 'B', 'A'};
    glcCallLists(3, GLC_UNSIGNED_BYTE, text);
    glcFlush();
    ASSERT_EQ(drawn.size(), 18u);
    EXPECT_FLOAT_EQ(drawn[0].position[0], 0.0f);
    EXPECT_FLOAT_EQ(drawn[6].position[0], 10.0f);
    EXPECT_FLOAT_EQ(drawn[6].texCoord[0], 66.0f);
    EXPECT_FLOAT_EQ(drawn[12].position[0], 20.0f);
    EXPECT_FLOAT_EQ(drawn[12].texCoord[0], 65.0f);
    EXPECT_FLOAT_EQ(glcTop(GLC_MODELVIEW).m[12], 30.0f) << "the advances stay on the matrix";

    // A list that calls lists takes the base in force when it runs, and keeps
    // its own push and pop balanced around them.
    const uint32_t word = glcGenLists(1);
    glcNewList(word, GLC_COMPILE);
    glcPushMatrix();
    glcCallLists(2, GLC_UNSIGNED_BYTE, text);
    glcPopMatrix();
    glcEndList();
    glcLoadIdentity();
    drawn.clear();
    glcListBase(base + 1);   // 'A' + 1 is 'B', 'B' + 1 has no list
    glcCallList(word);
    glcFlush();
    ASSERT_EQ(drawn.size(), 6u);
    EXPECT_FLOAT_EQ(drawn[0].texCoord[0], 66.0f);
    EXPECT_FLOAT_EQ(glcTop(GLC_MODELVIEW).m[12], 0.0f);

    glcDeleteLists(base, 256);
    EXPECT_FALSE(glcIsList(base + 65));
    EXPECT_TRUE(glcIsList(word));
}
