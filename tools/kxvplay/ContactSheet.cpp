#include "ContactSheet.h"

#include "BitmapFont.h"

#include <algorithm>
#include <cstdio>

SheetLayout SheetLayout::For(int cells, int pictureWidth, int pictureHeight) {
    SheetLayout layout;
    layout.Columns = std::max(1, std::min(MaxColumns, cells));
    layout.Rows = std::max(1, (cells + layout.Columns - 1) / layout.Columns);
    layout.ThumbHeight = std::max(1, (ThumbWidth * pictureHeight + pictureWidth / 2) / std::max(1, pictureWidth));
    layout.SheetWidth = Margin + layout.Columns * (ThumbWidth + Margin);
    layout.SheetHeight = Margin + layout.Rows * (layout.ThumbHeight + LabelHeight + Margin);
    return layout;
}

int SheetLayout::CellX(int cell) const {
    return Margin + (cell % Columns) * (ThumbWidth + Margin);
}

int SheetLayout::CellY(int cell) const {
    return Margin + (cell / Columns) * (ThumbHeight + LabelHeight + Margin);
}

std::vector<uint64_t> CContactSheet::ChooseIndices(uint64_t pictureTotal) {
    std::vector<uint64_t> indices;
    const uint64_t cells = std::min<uint64_t>(pictureTotal, SheetLayout::MaxCells);
    for (uint64_t k = 0; k < cells; ++k) indices.push_back(k * pictureTotal / cells);
    return indices;
}

std::string CContactSheet::TimeLabel(int64_t time) {
    const int64_t ms = std::max<int64_t>(0, time) / 10000;
    char text[32];
    snprintf(text, sizeof(text), "%02lld:%02lld.%03lld", static_cast<long long>(ms / 60000),
             static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

BgrImage CContactSheet::Thumbnail(const BgrImage& picture, int thumbHeight) {
    const int width = SheetLayout::ThumbWidth;
    BgrImage thumb(width, thumbHeight, 0);
    for (int y = 0; y < thumbHeight; ++y) {
        const int top = y * picture.Height / thumbHeight;
        const int bottom = std::max(top + 1, (y + 1) * picture.Height / thumbHeight);
        for (int x = 0; x < width; ++x) {
            const int left = x * picture.Width / width;
            const int right = std::max(left + 1, (x + 1) * picture.Width / width);
            unsigned sum[3] = {0, 0, 0};
            for (int py = top; py < bottom; ++py) {
                for (int px = left; px < right; ++px) {
                    const uint8_t* pixel = picture.At(px, py);
                    for (int c = 0; c < 3; ++c) sum[c] += pixel[c];
                }
            }
            const unsigned count = static_cast<unsigned>((bottom - top) * (right - left));
            uint8_t* out = thumb.At(x, y);
            for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
        }
    }
    return thumb;
}

void CContactSheet::Add(BgrImage thumbnail, int64_t time) {
    Thumbs.push_back(std::move(thumbnail));
    Times.push_back(time);
}

BgrImage CContactSheet::Compose(int pictureWidth, int pictureHeight) const {
    const SheetLayout layout = SheetLayout::For(static_cast<int>(Thumbs.size()), pictureWidth, pictureHeight);
    BgrImage sheet(layout.SheetWidth, layout.SheetHeight, 255);
    const uint8_t black[3] = {0, 0, 0};
    for (size_t i = 0; i < Thumbs.size(); ++i) {
        const int x = layout.CellX(static_cast<int>(i));
        const int y = layout.CellY(static_cast<int>(i));
        const BgrImage& thumb = Thumbs[i];
        for (int row = 0; row < std::min(thumb.Height, layout.ThumbHeight); ++row) {
            std::copy(thumb.At(0, row), thumb.At(0, row) + thumb.Stride(), sheet.At(x, y + row));
        }
        const std::string label = TimeLabel(Times[i]);
        const int labelX = x + (SheetLayout::ThumbWidth - CBitmapFont::TextWidth(label, SheetLayout::LabelScale)) / 2;
        CBitmapFont::Draw(&sheet, labelX, y + layout.ThumbHeight + 3, label, SheetLayout::LabelScale, black);
    }
    return sheet;
}
