// The recording format's 5x7 caption font (digits, ':', '.'), drawn straight
// into a BGR picture; used for the contact sheet's time labels, so labels look
// the same whether or not a display and its fonts exist. Pure; any thread.
#pragma once

#include "picture/BgrImage.h"

#include <string>

class CBitmapFont {
public:
    static constexpr int GlyphWidth = 5;
    static constexpr int GlyphHeight = 7;
    static constexpr int Advance = 6;   // glyph width plus one column of space

    // Draws text with its top-left corner at (x, y), each font pixel a
    // scale x scale square of the colour (B, G, R). Characters without a
    // glyph leave a space; whatever falls outside the picture is cut off.
    static void Draw(BgrImage* image, int x, int y, const std::string& text, int scale, const uint8_t* bgr);
    // Width in pixels of text drawn at this scale.
    static int TextWidth(const std::string& text, int scale);
};
