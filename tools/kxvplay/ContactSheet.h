// A contact sheet: thumbnails of evenly spaced pictures in a grid, each with
// its time (mm:ss.fff) written below it. The layout is fixed here so that a
// reader of the sheet can find each cell. Used by one thread at a time.
#pragma once

#include "picture/BgrImage.h"

#include <cstdint>
#include <string>
#include <vector>

struct SheetLayout {
    static constexpr int MaxColumns = 5;
    static constexpr int MaxCells = 20;
    static constexpr int ThumbWidth = 160;
    static constexpr int Margin = 8;
    static constexpr int LabelScale = 2;
    static constexpr int LabelHeight = 7 * LabelScale + 6;

    int Columns = 0;
    int Rows = 0;
    int ThumbHeight = 0;
    int SheetWidth = 0;
    int SheetHeight = 0;

    // Layout for cells thumbnails of pictures of the given size.
    static SheetLayout For(int cells, int pictureWidth, int pictureHeight);
    // Top-left corner of a cell's thumbnail; its label lies just below.
    int CellX(int cell) const;
    int CellY(int cell) const;
};

class CContactSheet {
public:
    // Which delivered pictures (by index from 0) go on a sheet of a
    // recording with this many pictures: at most MaxCells, evenly spaced.
    static std::vector<uint64_t> ChooseIndices(uint64_t pictureTotal);
    // "mm:ss.fff" of a time in 100-ns units.
    static std::string TimeLabel(int64_t time);
    // A thumbnail ThumbWidth wide: each pixel the average of the box of the
    // picture it covers.
    static BgrImage Thumbnail(const BgrImage& picture, int thumbHeight);

    void Add(BgrImage thumbnail, int64_t time);
    size_t Count() const { return Thumbs.size(); }
    // The whole sheet: white background, thumbnails in order, black labels.
    BgrImage Compose(int pictureWidth, int pictureHeight) const;

private:
    std::vector<BgrImage> Thumbs;
    std::vector<int64_t> Times;
};
