#include <dirent.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include "platform/gl.h"
#include "shell/demo.h"
#include "test_support.h"

namespace {

std::set<std::string> listDirectory(const char* path) {
    std::set<std::string> names;
    if (DIR* d = opendir(path)) {
        while (dirent* e = readdir(d))
            names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

GLint textureWidth(uint32_t name) {
    GLint width = 0;
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    return width;
}

}  // namespace

// The whole sequence in a directory that already holds a viewer's file named
// like the old scratch file: nothing there is created, changed or removed.
TEST(LoadDemo, LoadsEverythingWithoutTouchingTheDirectory) {
    char dir[] = "/tmp/loading_testXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    char* cwd = getcwd(nullptr, 0);
    std::string previous = cwd;
    std::free(cwd);
    ASSERT_EQ(chdir(dir), 0);
    const char keep[] = "a viewer's own file";
    FILE* f = std::fopen("kaasopdezolder", "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(keep, 1, sizeof keep, f);
    std::fclose(f);
    std::set<std::string> before = listDirectory(".");

    ensureGlContext();
    BoxRecorder boxes;
    loadDemo();

    EXPECT_EQ(listDirectory("."), before);
    char back[sizeof keep] = {};
    f = std::fopen("kaasopdezolder", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fread(back, 1, sizeof back, f), sizeof keep);
    std::fclose(f);
    EXPECT_STREQ(back, keep);
    std::remove("kaasopdezolder");
    ASSERT_EQ(chdir(previous.c_str()), 0);
    rmdir(dir);

    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(camera.eye[2], 50.0f);
    EXPECT_EQ(camera.target[2], 0.0f);
    EXPECT_EQ(camera.targetIsDirection, 0);
    std::set<uint32_t> names;
    for (uint32_t name : demo.textures) {
        EXPECT_NE(name, 0u);
        EXPECT_EQ(textureWidth(name), 256);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), size_t(TEXTURE_COUNT));
    for (uint32_t name : demo.imageTextures) {
        EXPECT_NE(name, 0u);
        EXPECT_EQ(names.count(name), 0u);
        EXPECT_EQ(textureWidth(name), 128);
    }
    EXPECT_NE(demo.textListBase, 0u);
    EXPECT_TRUE(glIsList(demo.textListBase + 'A'));
}
