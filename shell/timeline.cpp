// Frame timeline (placeholder: clears and presents).
#include "shell/demo.h"
#include "platform/gl.h"

int renderFrame(PlatDeviceContext* deviceContext) {
    if (loaded == 1)
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    presentFrame(deviceContext);
    return 0;
}
