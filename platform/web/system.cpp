// Clock, sleep, message boxes, log, resources, and the mixing "thread" as a
// fiber: the page has one thread, so a started procedure runs cooperatively,
// resumed once per frame and whenever the main code sleeps, and handing
// control back each time it sleeps itself.
#include <emscripten.h>
#include <emscripten/fiber.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "data/embedded.h"
#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/web/web.h"

WebCapture webCapture{};

namespace {

EM_JS(int, pageCaptureFps, (), {
    const p = new URLSearchParams(location.search);
    if (p.get('capture') !== '1')
        return 0;
    const fps = parseInt(p.get('fps') || '50', 10);
    return fps > 0 && fps <= 1000 ? fps : 50;
});

EM_JS(void, showMessageBox, (const char* text, const char* caption), {
    const message = UTF8ToString(caption) + '\n\n' + UTF8ToString(text);
    console.log(message);
    if (!new URLSearchParams(location.search).get('capture'))
        alert(message);
});

}  // namespace

void webReadPageSettings() {
    const int fps = pageCaptureFps();
    webCapture.enabled = fps > 0;
    webCapture.fps = fps > 0 ? fps : 50;
    webCapture.width = 640;
    webCapture.height = 480;
    webCapture.clockSamples = 0;
}

uint32_t webRealTicks() {
    return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now()));
}

uint32_t backendTickCount() {
    if (webCapture.enabled)
        return WEB_CAPTURE_BASE_TICKS +
               static_cast<uint32_t>(webCapture.clockSamples * 1000 / WEB_AUDIO_RATE);
    return webRealTicks();
}

namespace {
void pageMessageBox(const char* text, const char* caption, int) {
    showMessageBox(text ? text : "", caption ? caption : "");
}
}  // namespace

void (*backendMessageBox)(const char*, const char*, int) = pageMessageBox;

void platLog(const char* line) {
    std::fprintf(stderr, "%s\n", line ? line : "");
}

// Cooperative threads.
struct PlatThread {
    emscripten_fiber_t fiber;
    int (*procedure)();
    bool finished;
    bool forgotten;
    std::unique_ptr<uint8_t[]> stack;
    std::unique_ptr<uint8_t[]> asyncifyStack;
};

namespace {

enum : size_t { FIBER_STACK = 256 * 1024, ASYNCIFY_STACK = 64 * 1024 };

emscripten_fiber_t mainFiber;
std::unique_ptr<uint8_t[]> mainAsyncifyStack;
std::vector<PlatThread*> threads;
PlatThread* running = nullptr;

void fiberEntry(void* argument) {
    PlatThread* t = static_cast<PlatThread*>(argument);
    t->procedure();
    t->finished = true;
    emscripten_fiber_swap(&t->fiber, &mainFiber);   // never resumed
}

void resume(PlatThread* t) {
    running = t;
    emscripten_fiber_swap(&mainFiber, &t->fiber);
    running = nullptr;
}

}  // namespace

PlatThread* platThreadStart(int (*procedure)()) {
    if (!procedure)
        return nullptr;
    if (!mainAsyncifyStack) {
        mainAsyncifyStack.reset(new uint8_t[ASYNCIFY_STACK]);
        emscripten_fiber_init_from_current_context(&mainFiber, mainAsyncifyStack.get(), ASYNCIFY_STACK);
    }
    PlatThread* t = new PlatThread{};
    t->procedure = procedure;
    t->stack.reset(new uint8_t[FIBER_STACK]);
    t->asyncifyStack.reset(new uint8_t[ASYNCIFY_STACK]);
    emscripten_fiber_init(&t->fiber, fiberEntry, t, t->stack.get(), FIBER_STACK, t->asyncifyStack.get(),
                          ASYNCIFY_STACK);
    threads.push_back(t);
    return t;
}

void platThreadForget(PlatThread* thread) {
    if (thread)
        thread->forgotten = true;
    webStepThreads();
}

void webStepThreads() {
    if (running)
        return;
    for (size_t i = 0; i < threads.size();) {
        PlatThread* t = threads[i];
        if (!t->finished)
            resume(t);
        if (t->finished && t->forgotten) {
            threads.erase(threads.begin() + static_cast<std::ptrdiff_t>(i));
            delete t;
            continue;
        }
        ++i;
    }
}

void platSleep(uint32_t milliseconds) {
    if (running) {
        // A thread sleeping hands the page back until its next turn.
        PlatThread* self = running;
        emscripten_fiber_swap(&self->fiber, &mainFiber);
        return;
    }
    // The main code waiting: let the threads run, and the page breathe.
    webStepThreads();
    if (milliseconds > 0 && !webInsideEventLoop())
        emscripten_sleep(milliseconds);
}

bool platResource(int32_t id, const char* type, const uint8_t** data, uint32_t* size) {
    for (uint32_t i = 0; i < embeddedResourceCount; ++i) {
        const EmbeddedResource& r = embeddedResources[i];
        if (r.id == id && std::strcmp(r.type, type) == 0) {
            *data = r.data;
            *size = *r.size - 1;   // the table's arrays carry a trailing zero byte
            return true;
        }
    }
    *data = nullptr;
    *size = 0;
    return false;
}
