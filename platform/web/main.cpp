// The page's program: the show runs once per page load. Escape (or the
// browser's Back) ends it and brings back the chooser page; Cancel leaves the
// page empty, as the native program would have ended.
#include <emscripten.h>

#include "platform/platform.h"
#include "platform/web/web.h"

namespace {

// The show pushed a history entry so that Back could end it: after Escape that
// entry is still current, and is left first so that Back then leaves the page.
EM_JS(void, pageEnded, (int showed, int capture), {
    if (!showed || capture) {
        document.body.setAttribute('data-ended', '1');
        return;
    }
    Module.webBackArmed = false;
    const state = history.state;
    if (state && state.tumbleShow) {
        window.addEventListener('popstate', () => location.reload(), {once: true});
        history.back();
        setTimeout(() => location.reload(), 1000);
    } else {
        location.reload();
    }
});

}  // namespace

int main() {
    webReadPageSettings();
    const int code = appMain();
    pageEnded(webShowStarted() ? 1 : 0, webCapture.enabled ? 1 : 0);
    return code;
}
