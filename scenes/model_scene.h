// The main phase's 3D background: seven copies of the model as a tumbling
// cross, drawn through the feedback effect.
#pragma once

struct ModelSceneState {
    bool ready;       // render target made and model loaded
    float spinX;      // degrees, one step per drawn frame
    float spinY;
    float spinZ;
};
extern ModelSceneState modelScene;
void modelSceneReset();

void modelSceneSetup();
void modelSceneFrame();
int drawModelCross();
