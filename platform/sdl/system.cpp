// Clock, sleep, message boxes, threads and the embedded resource table.
#include <SDL.h>
#include <atomic>
#include <cstring>
#include "platform/platform.h"
#include "platform/backend.h"
#include "data/embedded.h"

uint32_t backendTickCount() {
    return SDL_GetTicks();
}

void platSleep(uint32_t milliseconds) {
    SDL_Delay(milliseconds);
}

void backendMessageBox(const char* text, const char* caption, int icon) {
    uint32_t flags = icon == PLAT_ICON_ERROR ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
    if (SDL_ShowSimpleMessageBox(flags, caption, text, nullptr) != 0)
        SDL_Log("%s: %s", caption, text);
}

struct PlatThread {
    SDL_Thread* thread;
};

namespace {
int threadTrampoline(void* procedure) {
    SDL_SetThreadPriority(SDL_THREAD_PRIORITY_TIME_CRITICAL);
    return reinterpret_cast<int (*)()>(procedure)();
}
}  // namespace

PlatThread* platThreadStart(int (*procedure)()) {
    SDL_Thread* t = SDL_CreateThread(threadTrampoline, "mix", reinterpret_cast<void*>(procedure));
    if (!t)
        return nullptr;
    return new PlatThread{t};
}

void platThreadForget(PlatThread* thread) {
    if (!thread)
        return;
    SDL_DetachThread(thread->thread);
    delete thread;
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
