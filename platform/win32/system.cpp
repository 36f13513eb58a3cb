// Clock, sleep, message boxes, threads and resources.
#include "platform/win32/win32.h"
#include "platform/platform.h"
#include "platform/backend.h"

HINSTANCE win32Instance = nullptr;
int win32ShowCommand = SW_SHOWNORMAL;

uint32_t backendTickCount() {
    return GetTickCount();
}

void platSleep(uint32_t milliseconds) {
    Sleep(milliseconds);
}

namespace {
void win32MessageBox(const char* text, const char* caption, int icon) {
    MessageBoxA(nullptr, text, caption, icon == PLAT_ICON_ERROR ? MB_ICONERROR : MB_OK);
}
}  // namespace

void (*backendMessageBox)(const char*, const char*, int) = win32MessageBox;

// A windowed program has no diagnostic stream; its boxes say what failed.
void platLog(const char*) {}

struct PlatThread {
    HANDLE handle;
};

namespace {
DWORD WINAPI threadTrampoline(LPVOID procedure) {
    return static_cast<DWORD>(reinterpret_cast<int (*)()>(procedure)());
}
}  // namespace

PlatThread* platThreadStart(int (*procedure)()) {
    HANDLE h = CreateThread(nullptr, 0, threadTrampoline, reinterpret_cast<LPVOID>(procedure), 0, nullptr);
    if (!h)
        return nullptr;
    SetThreadPriority(h, THREAD_PRIORITY_TIME_CRITICAL);
    return new PlatThread{h};
}

void platThreadForget(PlatThread* thread) {
    if (!thread)
        return;
    CloseHandle(thread->handle);
    delete thread;
}

bool platResource(int32_t id, const char* type, const uint8_t** data, uint32_t* size) {
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(id), type);
    HGLOBAL handle = info ? LoadResource(nullptr, info) : nullptr;
    *data = handle ? static_cast<const uint8_t*>(LockResource(handle)) : nullptr;
    *size = *data ? SizeofResource(nullptr, info) : 0;
    return *data != nullptr;
}
