// Loading sequence: generated textures behind the progress bar, the font,
// the two embedded images, the camera and the (silent) music player.
#include "assets/tga.h"
#include "data/embedded.h"
#include "music/output.h"
#include "music/player.h"
#include "platform/gl.h"
#include "shell/demo.h"
#include "text/font.h"
#include "texgen/texgen.h"

namespace {

void quad(float x0, float y0, float x1, float y1) {
    glVertex3f(x0, y0, 0.0f);
    glVertex3f(x1, y0, 0.0f);
    glVertex3f(x1, y1, 0.0f);
    glVertex3f(x0, y1, 0.0f);
}

// The record starts at texture name 0, which a failed load leaves in place.
uint32_t loadEmbeddedImage(const uint8_t* data, uint32_t size) {
    TgaImage image{};
    loadTgaTextureMemory(&image, data, size);
    return image.textureId;
}

}  // namespace

void drawLoadingBar(float fraction) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    setProjection();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, 640.0, 0.0, 480.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glBegin(GL_QUADS);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    quad(10.0f, 230.0f, 630.0f, 250.0f);
    glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    quad(11.0f, 231.0f, 629.0f, 249.0f);
    glColor4f(0.3f, 0.3f, 0.3f, 1.0f);
    quad(13.0f, 233.0f, 627.0f, 247.0f);
    glColor4f(1.0f, 0.4f, 0.0f, 1.0f);
    quad(13.0f, 233.0f, 13.0f + 614.0f * fraction, 247.0f);
    glEnd();

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    presentFrame(demo.window);
}

void loadDemo() {
    layerBank.fastSampling = 0;
    layerBank.cacheTextures = 0;

    Image** images = generateTextures(storedPrograms, drawLoadingBar);
    int32_t count = storedProgramCount < TEXTURE_COUNT ? storedProgramCount : int32_t(TEXTURE_COUNT);
    glGenTextures(count, demo.textures);
    for (int32_t i = 0; images && i < storedProgramCount; ++i) {
        if (images[i] && i < count) {
            toUploadFormat(images[i], IMAGE_PIXELS);
            uploadTexture(images[i], demo.textures[i], IMAGE_SIZE, IMAGE_SIZE);
        }
        freeImage(images[i]);
        images[i] = nullptr;
    }
    freeImageList(images);

    buildFont();

    // Straight from the embedded arrays; no scratch file on disk.
    demo.imageTextures[0] = loadEmbeddedImage(titleCardImage, titleCardImageSize);
    demo.imageTextures[1] = loadEmbeddedImage(smileyImage, smileyImageSize);

    camera = Camera{{0.0f, 0.0f, 50.0f}, {0.0f, 0.0f, 0.0f}, 0};
    demo.player = playerCreate();
    if (audioUsingSilentDevice())
        platLog("tumble: no sound device could be opened: the show runs silent");
    loaded = 1;
}
