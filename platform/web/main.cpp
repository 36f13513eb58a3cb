// The page's program: the show runs once per page load. Escape ends it and
// brings back the chooser page; Cancel leaves the page empty, as the native
// program would have ended.
#include <emscripten.h>

#include "platform/platform.h"
#include "platform/web/web.h"

namespace {

EM_JS(void, pageEnded, (int showed), {
    if (showed && !new URLSearchParams(location.search).get('capture'))
        location.reload();
    else
        document.body.setAttribute('data-ended', '1');
});

}  // namespace

bool webShowStarted();

int main() {
    webReadPageSettings();
    const int code = appMain();
    pageEnded(webShowStarted() ? 1 : 0);
    return code;
}
