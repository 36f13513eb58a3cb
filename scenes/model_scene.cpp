// Model scene: prepared on its first frame, then one feedback pass per frame.
#include "scenes/model_scene.h"
#include "assets/md2.h"
#include "data/embedded.h"
#include "platform/gl.h"
#include "scenes/feedback.h"
#include "assets/demo_state.h"

ModelSceneState modelScene{};

void modelSceneReset() {
    modelScene = ModelSceneState{};
}

void modelSceneSetup() {
    if (modelScene.ready)
        return;
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    createRenderTarget();
    // Parsed straight from memory: no file in the current directory is touched.
    // The embedded array carries one trailing zero byte that is not part of the model.
    if (embeddedModelSize > 0)
        md2LoadMemory(&demo.model, embeddedModel, embeddedModelSize - 1);
    modelScene.ready = true;
}

void modelSceneFrame() {
    modelSceneSetup();
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    renderToTexture(drawModelCross);
    drawRenderTarget();
}

int drawModelCross() {
    modelScene.spinX += 3.1f;
    modelScene.spinY += 2.2f;
    modelScene.spinZ += 4.1f;
    gluLookAt(0.0, 0.0, 2.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glRotatef(modelScene.spinX / 6.0f, modelScene.spinX, 0.0f, 0.0f);
    glRotatef(modelScene.spinY / 6.0f, 0.0f, modelScene.spinY, 0.0f);
    glRotatef(modelScene.spinZ / 6.0f, 0.0f, 0.0f, modelScene.spinZ);
    glTranslatef(0.0f, 0.0f, -2.0f);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glColor3f(0.2f, 0.2f, 0.5f);

    // Cumulative steps: the copies stand at the centre and one model length
    // along each axis in both directions.
    static const float steps[6][3] = {
        {0.0f, 0.0f, -5.0f}, {0.0f, 0.0f, 10.0f}, {-5.0f, 0.0f, -5.0f},
        {10.0f, 0.0f, 0.0f}, {-5.0f, -5.0f, 0.0f}, {0.0f, 10.0f, 0.0f},
    };
    md2DrawFrame(&demo.model, 0, 20);
    for (const auto& step : steps) {
        glTranslatef(step[0], step[1], step[2]);
        md2DrawFrame(&demo.model, 0, 20);
    }

    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glEnable(GL_TEXTURE_2D);
    glPopMatrix();
    return 1;
}
