// A 5x7 font for the characters of a test picture's caption (digits, '#',
// ':' and '.'), drawn as luma straight into a YUY2 picture; the tools above
// draw their own labels from the same glyphs. Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kxrec {

class CCaptionFont {
public:
    static constexpr uint32_t GlyphWidth = 5;
    static constexpr uint32_t GlyphHeight = 7;
    static constexpr uint32_t Advance = 6;   // glyph width plus one column of space

    // The glyph's seven rows, bit 4 the leftmost column; null for a
    // character without one.
    static const uint8_t* GlyphRows(char c);
    // Width in pixels of text drawn at this scale.
    static uint32_t TextWidth(const std::string& text, uint32_t scale);
    // Sets the luma of every lit font pixel of text, each a scale x scale
    // square, with the text's top-left corner at (x, y); chroma is left as
    // it is. Characters without a glyph leave a space; the caller keeps the
    // text inside the picture.
    static void Draw(uint8_t* yuy2, size_t strideBytes, uint32_t x, uint32_t y, const std::string& text,
                     uint32_t scale, uint8_t luma);
};

}  // namespace kxrec
