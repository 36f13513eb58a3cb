// Clock, sleep, message boxes, log and cooperative threads: the
// page has one thread, so a started procedure gets a turn once per frame and
// whenever the main code sleeps, and its turn ends when it sleeps itself.
#include <emscripten.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include "platform/backend.h"
#include "platform/offline_clock.h"
#include "platform/platform.h"
#include "platform/web/web.h"

WebCapture webCapture{};

void webReadPageSettings() {
    int32_t fields[5] = {};
    pageSettings(fields);
    webCapture.enabled = fields[0] != 0;
    webCapture.record = fields[1] != 0;
    webCapture.fps = fields[2];
    webCapture.width = fields[3];
    webCapture.height = fields[4];
    if (webCapture.enabled)
        offlineClockStart(webCapture.fps, webAudioHeard);
}

uint32_t backendTickCount() {
    return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now()));
}

namespace {
void messageBox(const char* text, const char* caption, int) {
    pageShowMessage(text ? text : "", caption ? caption : "", webCapture.enabled ? 1 : 0);
}
}  // namespace

void (*backendMessageBox)(const char*, const char*, int) = messageBox;

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
