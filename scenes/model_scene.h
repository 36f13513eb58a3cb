// The main phase's 3D background: seven copies of the model as a tumbling
// cross, drawn through the feedback effect.
#pragma once

extern bool modelSceneReady;
extern float spinX;
extern float spinY;
extern float spinZ;

void modelSceneSetup();
void modelSceneFrame();
int drawModelCross();
