// Display mode, resolution chooser, render window, WGL context and message loops.
#include <cstdlib>
#include "platform/win32/win32.h"
#include <mmsystem.h>
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

// The chooser's layout at 96 DPI, scaled by DPI / 96 on other screens: the
// rows' radio buttons (ids 101..) ROW_PITCH apart from the top, then the two buttons.
struct ChooserItem {
    int32_t id;
    const char* label;
    DWORD style;
    int32_t x, y, width, height;
};
enum : int32_t { ID_OK = 100, ID_CANCEL = 120, ID_FIRST_ROW = 101, MAX_ROWS = ID_CANCEL - ID_FIRST_ROW, ROW_PITCH = 20 };
const PlatChooserRow* chooserRows = nullptr;
int32_t chooserRowCount = 0;
// Item 0 is "Ok, let's go!", 1 "Cancel", then the rows top down.
ChooserItem chooserItem(int32_t index) {
    const int32_t okY = 16 + ROW_PITCH * chooserRowCount;
    if (index == 0)
        return {ID_OK, "Ok, let's go!", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 10, okY, 140, 24};
    if (index == 1)
        return {ID_CANCEL, "Cancel", WS_TABSTOP | WS_GROUP, 10, okY + 30, 140, 24};
    const int32_t row = index - 2;
    const DWORD first = row == 0 ? WS_TABSTOP | WS_GROUP : 0;
    return {ID_FIRST_ROW + row, chooserRows[row].label, BS_AUTORADIOBUTTON | first, 10, 10 + ROW_PITCH * row, 150, 20};
}
// The window's size, and the least client area: "Cancel"'s right and bottom
// edges plus the margin. Both heights grow by ROW_PITCH a row.
const int32_t chooserX = 300, chooserY = 200, chooserWidth = 167, chooserContentWidth = 160;
const int32_t chooserBaseHeight = 106, chooserBaseContentHeight = 80;

HFONT chooserFonts[2] = {nullptr, nullptr};   // regular, bold

int32_t scaled(int32_t value, UINT dpi) {
    return MulDiv(value, static_cast<int>(dpi), 96);
}

// The DPI of the window's monitor where the system can say, else the screen's.
UINT dpiOf(HWND window) {
    typedef UINT(WINAPI * DpiForWindow)(HWND);
    typedef UINT(WINAPI * DpiForSystem)();
    HMODULE user = GetModuleHandleA("user32.dll");
    void* forWindow = user ? reinterpret_cast<void*>(GetProcAddress(user, "GetDpiForWindow")) : nullptr;
    void* forSystem = user ? reinterpret_cast<void*>(GetProcAddress(user, "GetDpiForSystem")) : nullptr;
    UINT dpi = 0;
    if (window && forWindow)
        dpi = reinterpret_cast<DpiForWindow>(forWindow)(window);
    if (!dpi && forSystem)
        dpi = reinterpret_cast<DpiForSystem>(forSystem)();
    if (dpi)
        return dpi;
    HDC screen = GetDC(nullptr);
    int logical = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return logical > 0 ? static_cast<UINT>(logical) : 96;
}

// Places every control for this DPI, with fonts of 8 points at it, and grows
// the window when its frame leaves less client area than the controls need.
void layoutChooser(HWND chooser, UINT dpi) {
    const HFONT old[2] = {chooserFonts[0], chooserFonts[1]};
    int height = -MulDiv(8, static_cast<int>(dpi), 72);
    chooserFonts[0] = CreateFontA(height, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
    chooserFonts[1] = CreateFontA(height, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
    for (int32_t i = 0; i < chooserRowCount + 2; ++i) {
        const ChooserItem item = chooserItem(i);
        HWND control = GetDlgItem(chooser, item.id);
        if (!control)
            continue;
        SetWindowPos(control, nullptr, scaled(item.x, dpi), scaled(item.y, dpi), scaled(item.width, dpi),
                     scaled(item.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(chooserFonts[item.id == ID_OK ? 1 : 0]), 1);
    }
    for (HFONT f : old) {
        if (f)
            DeleteObject(f);
    }
    RECT client, outer;
    GetClientRect(chooser, &client);
    GetWindowRect(chooser, &outer);
    int32_t growX = scaled(chooserContentWidth, dpi) - (client.right - client.left);
    int32_t growY = scaled(chooserBaseContentHeight + ROW_PITCH * chooserRowCount, dpi) - (client.bottom - client.top);
    if (growX > 0 || growY > 0) {
        SetWindowPos(chooser, nullptr, 0, 0, outer.right - outer.left + (growX > 0 ? growX : 0),
                     outer.bottom - outer.top + (growY > 0 ? growY : 0),
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
}

void chooserCommand(HWND window, int id) {
    if (id == IDOK)
        id = ID_OK;
    if (id == IDCANCEL)
        id = ID_CANCEL;
    if (id == ID_OK) {
        ShowWindow(window, SW_HIDE);
        PostMessageA(window, WM_CLOSE, 0, 0);
        chooserState = 1;
    } else if (id == ID_CANCEL) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        chooserState = 2;
    } else if (id >= ID_FIRST_ROW && id < ID_FIRST_ROW + chooserRowCount) {
        *chooserChoice = id - (ID_FIRST_ROW - 1);
    }
}

LRESULT CALLBACK ChooserWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        chooserCommand(window, LOWORD(wParam));
        break;
    case DM_GETDEFID: {
        // Enter presses the focused button, else "Ok, let's go!".
        HWND focus = GetFocus();
        int id = focus && GetParent(focus) == window ? GetDlgCtrlID(focus) : 0;
        return MAKELONG(id == ID_CANCEL ? ID_CANCEL : ID_OK, DC_HASDEFID);
    }
    case WM_NEXTDLGCTL: {
        // Tab and Shift+Tab through the keyboard handling of a plain window.
        HWND next = lParam ? reinterpret_cast<HWND>(wParam) : GetNextDlgTabItem(window, GetFocus(), wParam != 0);
        if (next)
            SetFocus(next);
        return 0;
    }
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        layoutChooser(window, HIWORD(wParam));
        return 0;
    }
    case WM_CLOSE:
    case WM_DESTROY:
        // Closed some other way (Alt+F4, session end): treat as Cancel.
        if (chooserState == 0)
            chooserState = 2;
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeButton(HWND parent, const ChooserItem& item, UINT dpi) {
    return CreateWindowExA(0, "button", item.label, WS_CHILD | WS_VISIBLE | item.style, scaled(item.x, dpi),
                           scaled(item.y, dpi), scaled(item.width, dpi), scaled(item.height, dpi), parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(item.id)), win32Instance, nullptr);
}

// Timer resolution of 1 ms while the render window exists: the default
// ~15.6 ms turns the 20 ms frame tick into ~31 ms and the mixer's short
// sleeps into long ones.
bool timerPeriodHeld = false;
bool timerPeriodExitHook = false;
void releaseTimerPeriod() {
    if (timerPeriodHeld) {
        timeEndPeriod(1);
        timerPeriodHeld = false;
    }
}
void holdTimerPeriod() {
    if (timerPeriodHeld || timeBeginPeriod(1) != TIMERR_NOERROR)
        return;
    timerPeriodHeld = true;
    if (!timerPeriodExitHook) {
        timerPeriodExitHook = true;
        std::atexit(releaseTimerPeriod);   // start-up failures end through exit()
    }
}

}  // namespace

void platDesktopSize(int32_t* width, int32_t* height) {
    HDC screen = GetDC(nullptr);
    *width = GetDeviceCaps(screen, HORZRES);
    *height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
}

int32_t platRunChooser(const PlatChooserRow* rows, int32_t count, int32_t* choice) {
    chooserChoice = choice;
    chooserRows = rows;
    chooserRowCount = count < MAX_ROWS ? count : MAX_ROWS;   // the ids below "Cancel"'s

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

    UINT dpi = dpiOf(nullptr);
    const int32_t height = chooserBaseHeight + ROW_PITCH * chooserRowCount;
    HWND chooser = CreateWindowExA(0, "CHOICE_RESO", "Select your resolution", WS_VISIBLE, scaled(chooserX, dpi),
                                   scaled(chooserY, dpi), scaled(chooserWidth, dpi), scaled(height, dpi),
                                   nullptr, nullptr, win32Instance, nullptr);
    if (!chooser) {
        fatalError("Cant do createwindow 1");
    }
    if (!makeButton(chooser, chooserItem(0), dpi)) {
        fatalError("Cant do createwindow 2");
    }
    if (!makeButton(chooser, chooserItem(1), dpi)) {
        fatalError("Cant do createwindow 3");
    }
    for (int32_t i = 2; i < chooserRowCount + 2; ++i)
        makeButton(chooser, chooserItem(i), dpi);
    // The window's own monitor may differ from the system DPI.
    layoutChooser(chooser, dpiOf(chooser));
    SetForegroundWindow(chooser);
    SetFocus(GetDlgItem(chooser, ID_OK));

    // Waits for each message; the dialog manager turns Tab, arrows, Space,
    // Enter and Escape into focus moves and commands.
    MSG msg;
    while (chooserState == 0) {
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0)
            break;
        if (IsDialogMessageA(chooser, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // A quit message before either button: nothing was chosen, as with Cancel.
    return chooserState == 1 ? PLAT_CHOOSER_CONFIRMED : PLAT_CHOOSER_CANCELLED;
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

// The show's mode, applied again when a full-screen window regains activation.
struct DisplayMode {
    int32_t width, height, bitsPerPixel;
};
DisplayMode chosenMode{};
bool fullscreenWindow = false;
bool switchedAway = false;   // full screen, deactivated: desktop mode, minimised
bool closing = false;
}  // namespace

// The temporary switch lasts until the process ends or the window is destroyed.
void platSwitchDisplay(int32_t width, int32_t height, int32_t bitsPerPixel) {
    chosenMode = {width, height, bitsPerPixel};
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
    if (!render.window) {
        platMessageBox("Failed to create the window.", "Error!", PLAT_ICON_ERROR);
        return nullptr;
    }
    holdTimerPeriod();
    fullscreenWindow = full;
    if (full)
        ShowCursor(FALSE);
    if (desc->kind != PLAT_OFFSCREEN) {
        ShowWindow(render.window, win32ShowCommand);
        UpdateWindow(render.window);
        // Started from a chooser that is gone: take the keyboard, so Escape
        // works without a click first.
        SetForegroundWindow(render.window);
        SetFocus(render.window);
    }
    render.deviceContext = GetDC(render.window);
    if (!setPixelFormat(render.deviceContext)) {
        releaseTimerPeriod();
        return nullptr;
    }
    // Without a current context the window would stay black, with nothing said.
    HGLRC context = wglCreateContext(render.deviceContext);
    if (!context || !wglMakeCurrent(render.deviceContext, context)) {
        if (context)
            wglDeleteContext(context);
        releaseTimerPeriod();
        platMessageBox("Failed to create the OpenGL context.", "Error!", PLAT_ICON_ERROR);
        return nullptr;
    }
    render.glContext = context;
    return &render;
}

void* platGlProcAddress(const char* name) {
    return reinterpret_cast<void*>(wglGetProcAddress(name));
}

bool platSwapBuffers(PlatWindow* window) {
    return SwapBuffers(window->deviceContext) != FALSE;
}

// WM_DESTROY does the rest.
void platCloseWindow(PlatWindow* window) {
    closing = true;
    DestroyWindow(window->window);
}

void platRunEventLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    ReleaseDC(render.window, render.deviceContext);
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
    case WM_ACTIVATEAPP:
        // Full screen gives the desktop back while another program is in
        // front, and takes its mode again on return.
        if (!fullscreenWindow || closing)
            break;
        if (!wParam && !switchedAway) {
            switchedAway = true;
            ChangeDisplaySettingsA(nullptr, 0);
            ShowWindow(window, SW_MINIMIZE);
        } else if (wParam && switchedAway) {
            switchedAway = false;
            changeDisplay(chosenMode.width, chosenMode.height, chosenMode.bitsPerPixel, CDS_FULLSCREEN);
            ShowWindow(window, SW_RESTORE);
            SetFocus(window);
        }
        break;
    case WM_DESTROY:
        closing = true;
        releaseTimerPeriod();
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
