// Glyph atlas through fontconfig and FreeType, laid out as the GDI version:
// cell height 16 pixels (ascent + descent), glyphs centred on their advance
// and hung from the cell top at the font's ascent, clipped to the cell.
#include <cmath>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include <string>
#include "platform/platform.h"

namespace {

enum { CELL = 16, ATLAS = 256 };

bool findFontFile(const char* face, std::string* file, int* index) {
    if (!FcInit())
        return false;
    std::string name = std::string(face) + ":bold";
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(name.c_str()));
    if (!pattern)
        return false;
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match)
        return false;
    FcChar8* path = nullptr;
    bool found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path;
    if (found) {
        *file = reinterpret_cast<const char*>(path);
        if (FcPatternGetInteger(match, FC_INDEX, 0, index) != FcResultMatch)
            *index = 0;
    }
    FcPatternDestroy(match);
    return found;
}

// Codes that the text drawing call consumes instead of drawing: line breaks
// and the lone mnemonic prefix.
bool drawsNothing(uint32_t code) {
    return code == 0x0A || code == 0x0D || code == '&';
}

void drawCell(FT_Face face, uint32_t code, int ascent, uint8_t* bgr) {
    if (drawsNothing(code))
        return;
    FT_UInt glyph = FT_Get_Char_Index(face, code);   // 0: the missing-glyph box
    if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT) != 0)
        return;
    if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
        return;
    FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY)
        return;
    int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    int cellLeft = int(code % 16) * CELL;
    int cellTop = int(code / 16) * CELL;
    int penX = cellLeft + (CELL - advance) / 2;
    int originX = penX + slot->bitmap_left;
    int originY = cellTop + ascent - slot->bitmap_top;
    for (unsigned row = 0; row < bitmap.rows; ++row) {
        int y = originY + int(row);
        if (y < cellTop || y >= cellTop + CELL)
            continue;
        const uint8_t* source = bitmap.buffer + int(row) * bitmap.pitch;
        uint8_t* line = bgr + (ATLAS - 1 - y) * ATLAS * 3;   // bottom-up
        for (unsigned column = 0; column < bitmap.width; ++column) {
            int x = originX + int(column);
            if (x < cellLeft || x >= cellLeft + CELL)
                continue;
            uint8_t value = source[column];
            line[x * 3] = value;
            line[x * 3 + 1] = value;
            line[x * 3 + 2] = value;
        }
    }
}

}  // namespace

bool platRenderGlyphAtlas(const char* face, uint8_t* bgr) {
    std::string file;
    int index = 0;
    if (!findFontFile(face, &file, &index))
        return false;
    FT_Library library;
    if (FT_Init_FreeType(&library) != 0)
        return false;
    FT_Face font;
    if (FT_New_Face(library, file.c_str(), index, &font) != 0) {
        FT_Done_FreeType(library);
        return false;
    }
    // A positive GDI height is the cell height: ascent plus descent in the
    // Windows metrics, or the horizontal header's when there are none.
    int ascentUnits = font->ascender;
    int cellUnits = font->ascender - font->descender;
    const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(font, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
        ascentUnits = os2->usWinAscent;
        cellUnits = os2->usWinAscent + os2->usWinDescent;
    }
    bool result = false;
    if (FT_IS_SCALABLE(font) && cellUnits > 0 && font->units_per_EM > 0) {
        int ppem = static_cast<int>(std::lround(double(CELL) * font->units_per_EM / cellUnits));
        if (ppem < 1)
            ppem = 1;
        if (FT_Set_Pixel_Sizes(font, 0, FT_UInt(ppem)) == 0) {
            int ascent = static_cast<int>(std::lround(double(ascentUnits) * ppem / font->units_per_EM));
            for (int i = 0; i < ATLAS * ATLAS * 3; ++i)
                bgr[i] = 0;
            for (uint32_t code = 0; code < 256; ++code)
                drawCell(font, code, ascent, bgr);
            result = true;
        }
    }
    FT_Done_Face(font);
    FT_Done_FreeType(library);
    return result;
}
