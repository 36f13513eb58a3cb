// Clock, sleep, message boxes, log and cooperative threads: the
// page has one thread, so a started procedure gets a turn once per frame and
// whenever the main code sleeps, and its turn ends when it sleeps itself.
#include <emscripten.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/web/web.h"

WebCapture webCapture{};

namespace {

// The page address, parsed here once. Module.webSettings tells the page's own
// scripts; the wanted frames wait in Module.webWantedShots.
EM_JS(void, pageSettings, (int32_t* fields), {
    const p = new URLSearchParams(location.search);
    const capture = p.get('capture') === '1';
    const record = capture || p.get('record') === '1';
    Module.webSettings = {capture: capture, record: record};
    if (capture) {
        const list = (p.get('shots') || "").split(',').filter((s) => s);
        Module.webWantedShots = new Set(list.map((s) => parseInt(s, 10)));
        Module.webShots = {};
    }
    const fps = parseInt(p.get('fps') || '50', 10);
    const m = /^([0-9]+)x([0-9]+)$/.exec(p.get('size') || "");
    const sized = m && +m[1] >= 1 && +m[2] >= 1 && +m[1] <= 8192 && +m[2] <= 8192;
    HEAP32[fields >> 2] = capture ? 1 : 0;
    HEAP32[(fields >> 2) + 1] = record ? 1 : 0;
    HEAP32[(fields >> 2) + 2] = fps > 0 && fps <= 1000 ? fps : 50;
    HEAP32[(fields >> 2) + 3] = sized ? +m[1] : 640;
    HEAP32[(fields >> 2) + 4] = sized ? +m[2] : 480;
});

// In capture mode a box would stop the test: it goes to the log only.
EM_JS(void, showMessageBox, (const char* text, const char* caption, int quiet), {
    const message = UTF8ToString(caption) + '\n\n' + UTF8ToString(text);
    console.log(message);
    if (!quiet)
        alert(message);
});

}  // namespace

void webReadPageSettings() {
    int32_t fields[5] = {};
    pageSettings(fields);
    webCapture.enabled = fields[0] != 0;
    webCapture.record = fields[1] != 0;
    webCapture.fps = fields[2];
    webCapture.width = fields[3];
    webCapture.height = fields[4];
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
    showMessageBox(text ? text : "", caption ? caption : "", webCapture.enabled ? 1 : 0);
}
}  // namespace

void (*backendMessageBox)(const char*, const char*, int) = pageMessageBox;

void platLog(const char* line) {
    std::fprintf(stderr, "%s\n", line ? line : "");
}

// Cooperative threads. A started procedure is called once per turn; when it
// sleeps, platSleep jumps back out of it, so it must keep its state outside
// its frame (the mixing loop keeps it in the output ring).
struct PlatThread {
    int (*procedure)();
    bool finished;
    bool forgotten;
};

namespace {

std::vector<PlatThread*> threads;
PlatThread* running = nullptr;
jmp_buf turnEnd;

void runTurn(PlatThread* t) {
    running = t;
    if (setjmp(turnEnd) == 0) {
        t->procedure();
        t->finished = true;
    }
    running = nullptr;
}

}  // namespace

PlatThread* platThreadStart(int (*procedure)()) {
    if (!procedure)
        return nullptr;
    PlatThread* t = new PlatThread{procedure, false, false};
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
            runTurn(t);
        if (t->finished && t->forgotten) {
            threads.erase(threads.begin() + static_cast<std::ptrdiff_t>(i));
            delete t;
            continue;
        }
        ++i;
    }
}

void platSleep(uint32_t milliseconds) {
    if (running)
        longjmp(turnEnd, 1);   // a thread sleeping ends its turn
    // The main code waiting: let the threads run, and the page breathe.
    webStepThreads();
    if (milliseconds > 0 && !webInsideEventLoop())
        emscripten_sleep(milliseconds);
}
