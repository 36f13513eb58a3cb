#include <cstdlib>
#include <new>
#include "platform/win32/win32.h"
#include "platform/platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    win32Instance = instance;
    win32ShowCommand = showCommand;
    return appMain();
}

// The executable is built without exceptions, so the C++ runtime's
// allocation and container failure paths are replaced here: otherwise each
// one links the whole exception and string machinery of the static runtime.
// A failure that would have thrown ends the process, as the uncaught
// exception would have.
namespace {
void* allocate(std::size_t bytes) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p)
        std::abort();
    return p;
}
}  // namespace

void* operator new(std::size_t bytes) { return allocate(bytes); }
void* operator new[](std::size_t bytes) { return allocate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return std::malloc(bytes ? bytes : 1); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return std::malloc(bytes ? bytes : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace std {
const nothrow_t nothrow{};
[[noreturn]] void __throw_length_error(const char*) { abort(); }
[[noreturn]] void __throw_bad_alloc() { abort(); }
[[noreturn]] void __throw_bad_array_new_length() { abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { abort(); }
[[noreturn]] void __throw_logic_error(const char*) { abort(); }
}  // namespace std

extern "C" [[noreturn]] void __cxa_throw_bad_array_new_length() { std::abort(); }
extern "C" [[noreturn]] void __cxa_pure_virtual() { std::abort(); }

// The runtime's default math error handler prints to the console, which a
// windowed program does not have; this one leaves the result and errno as the
// math library set them, and keeps its message texts out of the executable.
struct _exception;
extern "C" int _matherr(_exception*) { return 0; }
