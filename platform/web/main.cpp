// The page's program: the show runs once per page load. Escape (or the
// browser's Back) ends it and brings back the chooser page; Cancel leaves the
// page empty, as the native program would have ended.
#include "platform/platform.h"
#include "platform/web/web.h"

int main() {
    webReadPageSettings();
    const int code = appMain();
    pageEnded(webShowStarted() ? 1 : 0);
    return code;
}
