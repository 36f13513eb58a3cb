// Display mode, resolution chooser, render window, WGL context and message loops.
#include "platform/win32/win32.h"
#include "platform/platform.h"
#include "shell/demo.h"

namespace {

HWND renderWindow = nullptr;
HGLRC glContext = nullptr;
UINT_PTR timerId = 0;
const PlatWindowEvents* handlers = nullptr;
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

int platRunChooser(int32_t* choice) {
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
    if (!chooser)
        fatalError("Cant do createwindow 1");

    HDC screen = GetDC(nullptr);
    int height = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    HFONT regular = CreateFontA(height, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
    HFONT bold = CreateFontA(height, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");

    if (!makeButton(chooser, "Ok, let's go!", 0, 10, 176, 140, 24, 100, bold))
        fatalError("Cant do createwindow 2");
    if (!makeButton(chooser, "Cancel", 0, 10, 206, 140, 24, 120, regular))
        fatalError("Cant do createwindow 3");
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
    return chooserState;
}

void platSetDisplayMode(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t flags) {
    DEVMODEA mode;
    ZeroMemory(&mode, sizeof mode);
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = bitsPerPixel;
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    ChangeDisplaySettingsA(&mode, flags);
}

void platRestoreDisplayMode() {
    ChangeDisplaySettingsA(nullptr, 0);
}

void platShowCursor(bool visible) {
    ShowCursor(visible ? TRUE : FALSE);
}

bool platCreateRenderWindow(int32_t width, int32_t height, int kind, const PlatWindowEvents* events) {
    handlers = events;
    DWORD style = kind == PLAT_FULLSCREEN
                      ? WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_MAXIMIZE
                      : WS_POPUP | WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    renderWindow = CreateWindowExA(0, "OpenGL", ":)", style, 0, 0, width, height, nullptr, nullptr,
                                   win32Instance, nullptr);
    if (!renderWindow)
        return false;
    if (kind != PLAT_HIDDEN) {
        ShowWindow(renderWindow, win32ShowCommand);
        UpdateWindow(renderWindow);
    }
    return true;
}

PlatDeviceContext platGetDeviceContext() {
    return GetDC(renderWindow);
}

int platSetPixelFormat(PlatDeviceContext dc) {
    HDC hdc = static_cast<HDC>(dc);
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

PlatGlContext platCreateGlContext(PlatDeviceContext dc) {
    glContext = wglCreateContext(static_cast<HDC>(dc));
    wglMakeCurrent(static_cast<HDC>(dc), glContext);
    return glContext;
}

void platDeleteGlContext(PlatGlContext context) {
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(static_cast<HGLRC>(context));
}

void* platGlProcAddress(const char* name) {
    return reinterpret_cast<void*>(wglGetProcAddress(name));
}

int platSwapBuffers(PlatDeviceContext dc) {
    return SwapBuffers(static_cast<HDC>(dc));
}

void platKillFrameTimer() {
    KillTimer(renderWindow, timerId);
}

void platDestroyWindow() {
    DestroyWindow(renderWindow);
}

void platPostQuit(int code) {
    PostQuitMessage(code);
}

int platMessageLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void platReleaseDeviceContext(PlatDeviceContext dc) {
    ReleaseDC(renderWindow, static_cast<HDC>(dc));
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
        if (!glContext)
            break;
        {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            if (handlers && handlers->paint)
                handlers->paint();
            EndPaint(window, &paint);
        }
        return 0;
    case WM_SIZE:
        if (!glContext)
            break;
        if (handlers && handlers->size)
            handlers->size(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_CHAR:
        if (wParam != 27)
            break;
        if (handlers && handlers->character)
            handlers->character(27);
        return 0;
    case WM_DESTROY:
        if (handlers && handlers->destroy)
            handlers->destroy();
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
