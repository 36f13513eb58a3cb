// The resolution chooser as the page's own form (index.html): shown, then
// polled until one of its buttons has been pressed.
#include <emscripten.h>

#include "platform/platform.h"

namespace {

EM_JS(int, chooserShow, (), {
    const form = document.getElementById('chooser');
    if (!form)
        return 0;
    Module.chooserResult = 0;
    form.hidden = false;
    if (Module.webChooserMs === undefined)
        Module.webChooserMs = performance.now();
    return 1;
});

// 0 while open, 1 confirmed, 2 cancelled; the current pick in *choice.
EM_JS(int, chooserPoll, (int32_t* choice), {
    const picked = document.querySelector('#chooser input[name=resolution]:checked');
    HEAP32[choice >> 2] = picked ? parseInt(picked.value, 10) : 0;
    if (Module.chooserResult)
        document.getElementById('chooser').hidden = true;
    return Module.chooserResult || 0;
});

}  // namespace

int32_t platRunChooser(int32_t* choice) {
    *choice = 0;
    if (!chooserShow())
        fatalError("Select your resolution");
    for (;;) {
        const int result = chooserPoll(choice);
        if (result == PLAT_CHOOSER_CONFIRMED || result == PLAT_CHOOSER_CANCELLED)
            return result;
        emscripten_sleep(30);
    }
}
