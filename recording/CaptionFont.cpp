#include "recording/CaptionFont.h"

namespace kxrec {

namespace {

// Seven rows per glyph, bit 4 the leftmost column.
struct Glyph {
    char character;
    uint8_t rows[CCaptionFont::GlyphHeight];
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
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
};

const Glyph* Find(char c) {
    for (const Glyph& glyph : Glyphs) {
        if (glyph.character == c) return &glyph;
    }
    return nullptr;
}

}  // namespace

const uint8_t* CCaptionFont::GlyphRows(char c) {
    const Glyph* glyph = Find(c);
    return glyph ? glyph->rows : nullptr;
}

uint32_t CCaptionFont::TextWidth(const std::string& text, uint32_t scale) {
    if (text.empty()) return 0;
    return (static_cast<uint32_t>(text.size()) * Advance - 1) * scale;
}

void CCaptionFont::Draw(uint8_t* yuy2, size_t strideBytes, uint32_t x, uint32_t y, const std::string& text,
                        uint32_t scale, uint8_t luma) {
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph* glyph = Find(text[i]);
        if (glyph == nullptr) continue;
        const uint32_t left = x + static_cast<uint32_t>(i) * Advance * scale;
        for (uint32_t row = 0; row < GlyphHeight; ++row) {
            for (uint32_t column = 0; column < GlyphWidth; ++column) {
                if (!(glyph->rows[row] & (0x10 >> column))) continue;
                for (uint32_t dy = 0; dy < scale; ++dy) {
                    uint8_t* line = yuy2 + (y + row * scale + dy) * strideBytes;
                    for (uint32_t dx = 0; dx < scale; ++dx) line[(left + column * scale + dx) * 2] = luma;
                }
            }
        }
    }
}

}  // namespace kxrec
