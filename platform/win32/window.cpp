// Display mode, resolution chooser, render window, WGL context and message loops.
#include "platform/win32/win32.h"
#include "platform/platform.h"

struct PlatWindow {
    HWND window;
    HDC deviceContext;
    HGLRC glContext;
};

namespace {

PlatWindow render{};
UINT_PTR timerId = 0;
const PlatWindowCallbacks* handlers = nullptr;
int32_t* chooserChoice = nullptr;
volatile int32_t chooserState = 0;

LRESULT CALLBACK ChooserWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        int id = LOWORD(wParam);
        if (id == 100) {
            ShowWindow(window, SW_HIDE);
            PostMessageA(window, WM_CLOSE, 0, 0);
            chooserState = 1;
        } else if (id == 120) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            chooserState = 2;
        } else if (id < 109) {
            *chooserChoice = id - 100;
        }
    } else if ((message == WM_CLOSE || message == WM_DESTROY) && chooserState == 0) {
        // Closed some other way (Alt+F4, session end): treat as Cancel.
        chooserState = 2;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeButton(HWND parent, const char* label, DWORD style, int x, int y, int w, int h, int id, HFONT font) {
    HWND b = CreateWindowExA(0, "button", label, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), win32Instance, nullptr);
    if (b)
        SendDlgItemMessageA(parent, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), 1);
    return b;
}

const char* const radioLabels[8] = {
    "640x480", "800x600", "960x720", "1024x768 (default)",
    "1152x864", "1280x960", "1280x1024", "windowed",
};

}  // namespace

void platDesktopSize(int32_t* width, int32_t* height) {
    HDC screen = GetDC(nullptr);
    *width = GetDeviceCaps(screen, HORZRES);
    *height = GetDeviceCaps(screen, VERTRES);
}

PlatChooserResult platRunChooser(int32_t* choice, const char** failure) {
    chooserChoice = choice;

    WNDCLASSA renderClass = {};
    renderClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    renderClass.lpfnWndProc = RenderWindowProc;
    renderClass.hInstance = win32Instance;
    renderClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    renderClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    renderClass.lpszClassName = "OpenGL";
    RegisterClassA(&renderClass);

    WNDCLASSEXA chooserClass = {};
    chooserClass.cbSize = sizeof chooserClass;
    chooserClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
    chooserClass.lpfnWndProc = ChooserWindowProc;
    chooserClass.hInstance = win32Instance;
    chooserClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    chooserClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    chooserClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    chooserClass.hbrBackground = reinterpret_cast<HBRUSH>(1);
    chooserClass.lpszClassName = "CHOICE_RESO";
    RegisterClassExA(&chooserClass);

    HWND chooser = CreateWindowExA(0, "CHOICE_RESO", "Select your resolution", WS_VISIBLE,
                                   300, 200, 167, 266, nullptr, nullptr, win32Instance, nullptr);
    if (!chooser) {
        *failure = "Cant do createwindow 1";
        return PLAT_CHOOSER_FAILED;
    }

    HDC screen = GetDC(nullptr);
    int height = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    HFONT regular = CreateFontA(height, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
    HFONT bold = CreateFontA(height, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");

    if (!makeButton(chooser, "Ok, let's go!", 0, 10, 176, 140, 24, 100, bold)) {
        *failure = "Cant do createwindow 2";
        return PLAT_CHOOSER_FAILED;
    }
    if (!makeButton(chooser, "Cancel", 0, 10, 206, 140, 24, 120, regular)) {
        *failure = "Cant do createwindow 3";
        return PLAT_CHOOSER_FAILED;
    }
    for (int i = 0; i < 8; ++i)
        makeButton(chooser, radioLabels[i], BS_AUTORADIOBUTTON, 10, 10 + 20 * i, 150, 20, 101 + i, regular);

    // The chooser polls and never waits.
    MSG msg;
    while (chooserState == 0) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            continue;
        if (msg.message == WM_QUIT)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<PlatChooserResult>(chooserState);
}

namespace {

void changeDisplay(int32_t width, int32_t height, int32_t bitsPerPixel, DWORD flags) {
    DEVMODEA mode;
    ZeroMemory(&mode, sizeof mode);
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = bitsPerPixel;
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    ChangeDisplaySettingsA(&mode, flags);
}

int setPixelFormat(HDC hdc) {
    PIXELFORMATDESCRIPTOR pfd;
    ZeroMemory(&pfd, sizeof pfd);
    pfd.nSize = 40;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = static_cast<BYTE>(GetDeviceCaps(hdc, BITSPIXEL));
    int format = ChoosePixelFormat(hdc, &pfd);
    if (format == 0) {
        MessageBoxA(WindowFromDC(hdc), "Failed to find acceptable pixel format.", "Error!", MB_ICONERROR);
        return 0;
    }
    if (SetPixelFormat(hdc, format, &pfd) != 1) {
        MessageBoxA(WindowFromDC(hdc), "Failed to set pixel format.", "Error!", MB_ICONERROR);
        return 0;
    }
    return 1;
}

}  // namespace

// The temporary switch lasts until the process ends or the window is destroyed.
void platSwitchDisplay(int32_t width, int32_t height, int32_t bitsPerPixel) {
    changeDisplay(width, height, bitsPerPixel, CDS_FULLSCREEN);
}

void platRestoreDisplay(int32_t width, int32_t height, int32_t bitsPerPixel) {
    changeDisplay(width, height, bitsPerPixel, 0);
}

PlatWindow* platOpenWindow(const PlatWindowDesc* desc, const PlatWindowCallbacks* callbacks) {
    handlers = callbacks;
    const bool full = desc->kind == PLAT_FULLSCREEN;
    DWORD style = full ? WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_MAXIMIZE
                       : WS_POPUP | WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    render.window = CreateWindowExA(0, "OpenGL", desc->title, style, 0, 0, desc->width, desc->height,
                                    nullptr, nullptr, win32Instance, nullptr);
    if (!render.window)
        return nullptr;
    if (full)
        ShowCursor(FALSE);
    if (desc->kind != PLAT_OFFSCREEN) {
        ShowWindow(render.window, win32ShowCommand);
        UpdateWindow(render.window);
    }
    render.deviceContext = GetDC(render.window);
    if (!setPixelFormat(render.deviceContext))
        return nullptr;
    render.glContext = wglCreateContext(render.deviceContext);
    wglMakeCurrent(render.deviceContext, render.glContext);
    return &render;
}

void* platGlProcAddress(const char* name) {
    return reinterpret_cast<void*>(wglGetProcAddress(name));
}

int platSwapBuffers(PlatWindow* window) {
    return SwapBuffers(window->deviceContext);
}

// WM_DESTROY does the rest.
void platCloseWindow(PlatWindow* window) {
    DestroyWindow(window->window);
}

int platRunEventLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    ReleaseDC(render.window, render.deviceContext);
    return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK RenderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        timerId = SetTimer(window, 1, 20, nullptr);
        return 0;
    case WM_TIMER:
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_PAINT:
        if (!render.glContext)
            break;
        {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            if (handlers && handlers->frame)
                handlers->frame();
            EndPaint(window, &paint);
        }
        return 0;
    case WM_SIZE:
        if (!render.glContext)
            break;
        if (handlers && handlers->size)
            handlers->size(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_CHAR:
        if (wParam != 27)
            break;
        if (handlers && handlers->key)
            handlers->key(PLAT_KEY_ESCAPE);
        return 0;
    case WM_DESTROY:
        ChangeDisplaySettingsA(nullptr, 0);
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(render.glContext);
        KillTimer(window, timerId);
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
