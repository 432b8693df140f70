#include "recording/TestPattern.h"

#include "recording/CaptionFont.h"
#include "recording/Crc32.h"
#include "recording/RecordingFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace kxrec {

namespace {

constexpr uint32_t CodeMagic = 0xA5;
constexpr uint32_t CodeBits = 8 + 32 + 16 + 16 + 16;
constexpr uint8_t BitOne = 235;
constexpr uint8_t BitZero = 16;
constexpr uint8_t Chroma = 128;

// Where the block code sits in a picture of a given size.
struct CodeLayout {
    uint32_t block;         // block side in pixels
    uint32_t blocksPerRow;
    uint32_t codeRows;      // picture rows taken by the code
};

bool LayoutFor(uint32_t width, uint32_t height, CodeLayout* layout) {
    if (width < 2 || height < 2 || width % 2 != 0 || width > MaxPictureWidth ||
        height > MaxPictureHeight) {
        return false;
    }
    for (uint32_t block : {8u, 2u}) {
        uint32_t perRow = width / block;
        if (perRow == 0) continue;
        uint32_t rows = (CodeBits + perRow - 1) / perRow * block;
        // At least one row of background must remain below the code.
        if (rows < height) {
            *layout = CodeLayout{block, perRow, rows};
            return true;
        }
    }
    return false;
}

uint8_t BackgroundFor(uint32_t frameNumber) {
    return static_cast<uint8_t>(40 + (frameNumber * 37u) % 176u);
}

uint16_t CodeChecksum(uint32_t frameNumber, uint32_t width, uint32_t height) {
    uint32_t fields[3] = {frameNumber, width, height};
    return static_cast<uint16_t>(Crc32(0, fields, sizeof(fields)));
}

// The code's bits, most significant first within each field.
void CodeBitsFor(uint32_t frameNumber, uint32_t width, uint32_t height, bool* bits) {
    uint32_t n = 0;
    auto put = [&](uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bits[n++] = ((value >> i) & 1) != 0;
    };
    put(CodeMagic, 8);
    put(frameNumber, 32);
    put(width, 16);
    put(height, 16);
    put(CodeChecksum(frameNumber, width, height), 16);
}

// Paints the rectangle [left, left+width) x [top, top+height) one grey;
// left and width even, so whole pixel pairs change.
void FillGrey(uint8_t* yuy2, size_t strideBytes, uint32_t left, uint32_t top, uint32_t width, uint32_t height,
              uint8_t luma) {
    for (uint32_t y = top; y < top + height; ++y) {
        uint8_t* p = yuy2 + y * strideBytes + left * 2;
        for (uint32_t x = 0; x < width; x += 2, p += 4) {
            p[0] = luma;
            p[1] = Chroma;
            p[2] = luma;
            p[3] = Chroma;
        }
    }
}

// The picture's number over its time, as large as fits between the first
// row below the code and the middle row, both of which the checker compares.
void DrawCaption(uint32_t frameNumber, uint32_t timeMs, uint32_t width, uint32_t height, const CodeLayout& layout,
                 uint8_t* yuy2, size_t strideBytes) {
    char number[16];
    char time[32];
    snprintf(number, sizeof(number), "#%04u", frameNumber);
    snprintf(time, sizeof(time), "%02u:%02u.%03u", timeMs / 60000, timeMs / 1000 % 60, timeMs % 1000);
    const uint32_t top = layout.codeRows + 2;
    const uint32_t middle = (layout.codeRows + height) / 2;
    if (middle < top + 1) return;
    const uint32_t room = middle - 1 - top;
    // One font unit of black around and between the two lines.
    const uint32_t unitsWide = std::max(CCaptionFont::TextWidth(number, 1), CCaptionFont::TextWidth(time, 1)) + 2;
    const uint32_t unitsHigh = 2 * CCaptionFont::GlyphHeight + 3;
    const uint32_t scale = std::min(width * 9 / 10 / unitsWide, room / unitsHigh);
    if (scale == 0) return;
    const uint32_t boxWidth = (unitsWide * scale + 1) & ~1u;
    const uint32_t boxLeft = (width - boxWidth) / 2 & ~1u;
    const uint32_t boxTop = top + (room - unitsHigh * scale) / 2;
    FillGrey(yuy2, strideBytes, boxLeft, boxTop, boxWidth, unitsHigh * scale, BitZero);
    uint32_t lineTop = boxTop + scale;
    for (const char* line : {number, time}) {
        const uint32_t left = boxLeft + (boxWidth - CCaptionFont::TextWidth(line, scale)) / 2;
        CCaptionFont::Draw(yuy2, strideBytes, left, lineTop, line, scale, BitOne);
        lineTop += (CCaptionFont::GlyphHeight + 1) * scale;
    }
}

// A block on a track just below the middle row, a step further along for
// each picture, so that motion shows at a glance.
void DrawMover(uint32_t frameNumber, uint32_t width, uint32_t height, const CodeLayout& layout, uint8_t* yuy2,
               size_t strideBytes) {
    const uint32_t middle = (layout.codeRows + height) / 2;
    const uint32_t band = (height - middle) / 4;
    if (band < 2) return;
    const uint32_t top = middle + 2;
    const uint32_t blockWidth = std::max(2u, width / 16 & ~1u);
    const uint32_t places = (width - blockWidth) / 2 + 1;
    const uint32_t step = std::max(1u, width / 64);
    const uint32_t left = 2 * static_cast<uint32_t>(1ull * frameNumber * step % places);
    FillGrey(yuy2, strideBytes, 0, top, width, band, BitZero);
    FillGrey(yuy2, strideBytes, left, top, blockWidth, band, BitOne);
}

bool RowIs(const uint8_t* row, size_t bytes, uint8_t value) {
    for (size_t i = 0; i < bytes; ++i) {
        if (row[i] != value) return false;
    }
    return true;
}

}  // namespace

bool TestPictureFits(uint32_t width, uint32_t height) {
    CodeLayout layout;
    return LayoutFor(width, height, &layout);
}

bool SynthesizeTestPicture(uint32_t frameNumber, uint32_t timeMs, uint32_t width, uint32_t height,
                           uint8_t* yuy2, size_t strideBytes) {
    CodeLayout layout;
    const size_t rowBytes = static_cast<size_t>(width) * 2;
    if (yuy2 == nullptr || strideBytes < rowBytes || !LayoutFor(width, height, &layout)) {
        return false;
    }
    const uint8_t background = BackgroundFor(frameNumber);
    if (strideBytes == rowBytes) {
        memset(yuy2, background, rowBytes * height);
    } else {
        for (uint32_t y = 0; y < height; ++y) memset(yuy2 + y * strideBytes, background, rowBytes);
    }
    bool bits[CodeBits];
    CodeBitsFor(frameNumber, width, height, bits);
    for (uint32_t bit = 0; bit < CodeBits; ++bit) {
        const uint32_t top = bit / layout.blocksPerRow * layout.block;
        const uint32_t left = bit % layout.blocksPerRow * layout.block;
        FillGrey(yuy2, strideBytes, left, top, layout.block, layout.block, bits[bit] ? BitOne : BitZero);
    }
    DrawCaption(frameNumber, timeMs, width, height, layout, yuy2, strideBytes);
    DrawMover(frameNumber, width, height, layout, yuy2, strideBytes);
    return true;
}

bool CheckTestPicture(const uint8_t* yuy2, uint32_t width, uint32_t height,
                      size_t strideBytes, TestPictureId* id) {
    CodeLayout layout;
    const size_t rowBytes = static_cast<size_t>(width) * 2;
    if (yuy2 == nullptr || strideBytes < rowBytes || !LayoutFor(width, height, &layout)) {
        return false;
    }
    // Read the code from the first pixel of each block.
    uint32_t fields[5] = {};
    const int widths[5] = {8, 32, 16, 16, 16};
    uint32_t bit = 0;
    for (int f = 0; f < 5; ++f) {
        for (int i = 0; i < widths[f]; ++i, ++bit) {
            const uint32_t top = bit / layout.blocksPerRow * layout.block;
            const uint32_t left = bit % layout.blocksPerRow * layout.block;
            const uint8_t luma = yuy2[top * strideBytes + left * 2];
            if (luma != BitOne && luma != BitZero) return false;
            fields[f] = (fields[f] << 1) | (luma == BitOne ? 1u : 0u);
        }
    }
    const uint32_t frameNumber = fields[1];
    if (fields[0] != CodeMagic || fields[2] != width || fields[3] != height ||
        fields[4] != CodeChecksum(frameNumber, width, height)) {
        return false;
    }
    // Compare the code rows, and some rows lower down, with what the frame's
    // picture holds there.
    const uint8_t background = BackgroundFor(frameNumber);
    bool bits[CodeBits];
    CodeBitsFor(frameNumber, width, height, bits);
    for (uint32_t y = 0; y < layout.codeRows; ++y) {
        const uint8_t* p = yuy2 + y * strideBytes;
        const uint32_t blockRow = y / layout.block;
        for (uint32_t x = 0; x < width; x += 2, p += 4) {
            const uint32_t blockCol = x / layout.block;
            const uint32_t index = blockRow * layout.blocksPerRow + blockCol;
            if (blockCol < layout.blocksPerRow && index < CodeBits) {
                const uint8_t luma = bits[index] ? BitOne : BitZero;
                if (p[0] != luma || p[1] != Chroma || p[2] != luma || p[3] != Chroma) return false;
            } else if (p[0] != background || p[1] != background || p[2] != background ||
                       p[3] != background) {
                return false;
            }
        }
    }
    const uint32_t rows[3] = {layout.codeRows, (layout.codeRows + height) / 2, height - 1};
    for (uint32_t y : rows) {
        if (!RowIs(yuy2 + y * strideBytes, rowBytes, background)) return false;
    }
    if (id != nullptr) *id = TestPictureId{frameNumber, width, height};
    return true;
}

int16_t ToneSample(uint32_t index) {
    const uint32_t low = (index >> 1) & 0x7FFFu;
    const uint32_t high = (index >> 16) & 0x7FFFu;
    const uint32_t value = (index & 1) ? 0x8000u | (high ^ low) : low;
    return static_cast<int16_t>(static_cast<uint16_t>(value));
}

void SynthesizeTone(uint32_t firstSample, uint32_t count, int16_t* samples) {
    for (uint32_t i = 0; i < count; ++i) samples[i] = ToneSample(firstSample + i);
}

bool CheckTone(const void* pcm, size_t bytes, uint32_t* firstSample) {
    if (pcm == nullptr || bytes % 2 != 0 || bytes < 4) return false;
    const size_t count = bytes / 2;
    const uint8_t* p = static_cast<const uint8_t*>(pcm);
    auto sampleAt = [p](size_t i) {
        return static_cast<uint16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    };
    const uint16_t s0 = sampleAt(0);
    const uint16_t s1 = sampleAt(1);
    uint32_t first;
    if ((s0 & 0x8000u) == 0) {
        const uint32_t low = s0 & 0x7FFFu;
        first = (((s1 & 0x7FFFu) ^ low) << 16) | (low << 1);
    } else {
        // The odd sample shares its low bits with the even sample before it,
        // one less than those of the even sample after it.
        const uint32_t low = ((s1 & 0x7FFFu) - 1) & 0x7FFFu;
        first = (((s0 & 0x7FFFu) ^ low) << 16) | (low << 1) | 1u;
    }
    for (size_t i = 0; i < count; ++i) {
        if (sampleAt(i) != static_cast<uint16_t>(ToneSample(first + static_cast<uint32_t>(i)))) {
            return false;
        }
    }
    if (firstSample != nullptr) *firstSample = first;
    return true;
}

}  // namespace kxrec
