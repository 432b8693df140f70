#include "BitmapFont.h"

namespace {

// Seven rows per glyph, bit 4 the leftmost column.
struct Glyph {
    char Character;
    uint8_t Rows[CBitmapFont::GlyphHeight];
};

const Glyph Glyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
};

const Glyph* Find(char c) {
    for (const Glyph& glyph : Glyphs) {
        if (glyph.Character == c) return &glyph;
    }
    return nullptr;
}

}  // namespace

void CBitmapFont::Draw(BgrImage* image, int x, int y, const std::string& text, int scale, const uint8_t* bgr) {
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph* glyph = Find(text[i]);
        if (!glyph) continue;
        const int left = x + static_cast<int>(i) * Advance * scale;
        for (int row = 0; row < GlyphHeight; ++row) {
            for (int column = 0; column < GlyphWidth; ++column) {
                if (!(glyph->Rows[row] & (0x10 >> column))) continue;
                for (int dy = 0; dy < scale; ++dy) {
                    for (int dx = 0; dx < scale; ++dx) {
                        const int px = left + column * scale + dx;
                        const int py = y + row * scale + dy;
                        if (px < 0 || py < 0 || px >= image->Width || py >= image->Height) continue;
                        uint8_t* pixel = image->At(px, py);
                        pixel[0] = bgr[0];
                        pixel[1] = bgr[1];
                        pixel[2] = bgr[2];
                    }
                }
            }
        }
    }
}

int CBitmapFont::TextWidth(const std::string& text, int scale) {
    if (text.empty()) return 0;
    return (static_cast<int>(text.size()) * Advance - 1) * scale;
}
