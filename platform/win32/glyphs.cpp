// Glyph atlas through GDI: every code drawn into its cell of a 24-bit DIB.
#include <cstring>
#include "platform/platform.h"
#include "platform/win32/win32.h"

bool platRenderGlyphAtlas(const char* face, uint8_t* bgr) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = 256;
    info.bmiHeader.biHeight = 256;   // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;

    HDC context = CreateCompatibleDC(nullptr);
    if (!context)
        return false;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(context, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap)
            DeleteObject(bitmap);
        DeleteDC(context);
        return false;
    }
    HFONT font = CreateFontA(16, 0, 0, 0, 700, FALSE, FALSE, FALSE, OEM_CHARSET, 0, 0,
                             ANTIALIASED_QUALITY, 0, face);
    if (!font) {
        DeleteObject(bitmap);
        DeleteDC(context);
        return false;
    }
    HGDIOBJ oldBitmap = SelectObject(context, bitmap);
    HGDIOBJ oldFont = SelectObject(context, font);
    SetBkColor(context, RGB(0, 0, 0));
    SetTextColor(context, RGB(255, 255, 255));
    std::memset(bits, 0, 256 * 256 * 3);

    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c) {
            WCHAR code = static_cast<WCHAR>(16 * r + c);
            RECT cell = {16 * c, 16 * r, 16 * c + 16, 16 * r + 16};
            DrawTextW(context, &code, 1, &cell, DT_CENTER);
        }
    }
    GdiFlush();
    // Rows of 768 bytes are already 4-byte aligned: no padding to remove.
    std::memcpy(bgr, bits, 256 * 256 * 3);

    SelectObject(context, oldFont);
    SelectObject(context, oldBitmap);
    DeleteObject(font);
    DeleteObject(bitmap);
    DeleteDC(context);
    return true;
}
