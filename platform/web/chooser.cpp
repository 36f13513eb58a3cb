// The resolution chooser as the page's own form (index.html): its rows added,
// shown, then polled until one of its buttons has been pressed.
#include <emscripten.h>

#include "platform/platform.h"
#include "platform/web/web.h"

int32_t platRunChooser(const PlatChooserRow* rows, int32_t count, int32_t* choice) {
    *choice = 0;
    if (!pageChooserShow())
        fatalError("Select your resolution");
    for (int32_t i = 0; i < count; ++i)
        pageChooserRow(i + 1, rows[i].label, rows[i].isDefault ? 1 : 0);
    for (;;) {
        const int result = pageChooserPoll(choice);
        if (result == PLAT_CHOOSER_CONFIRMED || result == PLAT_CHOOSER_CANCELLED)
            return result;
        emscripten_sleep(30);
    }
}
