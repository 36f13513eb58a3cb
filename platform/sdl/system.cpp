// Clock, sleep, threads and the diagnostic line: the headless half of the
// Linux backend, so that tools which open no window link no window, GL or
// sound library.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <thread>
#include "platform/platform.h"
#include "platform/backend.h"

namespace {

const auto clockStart = std::chrono::steady_clock::now();

// Without a display the box is one line on stderr.
void stderrMessageBox(const char* text, const char* caption, int) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

}  // namespace

void (*backendMessageBox)(const char*, const char*, int) = stderrMessageBox;

uint32_t backendTickCount() {
    auto elapsed = std::chrono::steady_clock::now() - clockStart;
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void platSleep(uint32_t milliseconds) {
    if (milliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void platLog(const char* line) {
    std::fprintf(stderr, "%s\n", line);
}

struct PlatThread {
    std::thread thread;
};

PlatThread* platThreadStart(int (*procedure)()) {
    PlatThread* t = new PlatThread;
    t->thread = std::thread([procedure] {
        // Time-critical where the system allows it; an ordinary thread otherwise.
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -10);
        procedure();
    });
    return t;
}

void platThreadForget(PlatThread* thread) {
    if (!thread)
        return;
    thread->thread.detach();
    delete thread;
}
