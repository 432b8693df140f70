#include "BitmapFont.h"

#include "recording/CaptionFont.h"

void CBitmapFont::Draw(BgrImage* image, int x, int y, const std::string& text, int scale, const uint8_t* bgr) {
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t* rows = kxrec::CCaptionFont::GlyphRows(text[i]);
        if (!rows) continue;
        const int left = x + static_cast<int>(i) * Advance * scale;
        for (int row = 0; row < GlyphHeight; ++row) {
            for (int column = 0; column < GlyphWidth; ++column) {
                if (!(rows[row] & (0x10 >> column))) continue;
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
