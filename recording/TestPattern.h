// Test pictures and test tone: content that says where it came from, so any
// test can check from a delivered sample which picture or which sound it holds
// and that it arrived whole, in order and without gaps.
//
// Test picture (packed YUY2, Y0 U Y1 V, width even): every byte is a
// background value that depends on the frame number, except for a block code
// at the top: square blocks of Y=235 (1) or Y=16 (0) with U=V=128 spell a
// magic byte, the frame number, width, height and a checksum. Blocks are 8x8
// pixels when that fits, else 2x2. The checker reads the code, then verifies
// the code rows exactly, the first row below them, a middle row and the last
// row, so a cut-short, shifted, stale or foreign picture fails.
//
// For a person looking at it, the picture also shows its number over its
// time in large white digits on black ("#0123" / "00:04.920") between the
// first row below the code and the middle row, and, in a band just below the
// middle row, a white block on a black track whose place follows the picture
// number. Both stay clear of the rows the checker compares and of the lowest
// quarter, which stays background; a picture too small for the digits goes
// without them.
//
// Test tone (8 kHz mono 16-bit): sample i is a function of i alone, a
// sawtooth rather than a pleasant tone; even samples carry bits 1..15 of i,
// odd samples those bits XOR bits 16..30 of i, with the sign bit set. Any two
// neighbouring samples give the position, and the checker then verifies every
// sample, so gaps, repeats, stale bytes and silence fail.
//
// All functions are pure and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kxrec {

struct TestPictureId {
    uint32_t frameNumber;
    uint32_t width;
    uint32_t height;
};

// Whether a test picture of this size can carry its block code with a row
// of background to spare: width even, at most MaxPictureWidth x
// MaxPictureHeight, and large enough (32x16 is; 16x16 is not).
bool TestPictureFits(uint32_t width, uint32_t height);

// Writes the test picture for frameNumber, shown at timeMs, into yuy2:
// height rows of width*2 bytes, rows strideBytes apart (strideBytes >=
// width*2). False, writing nothing, when the size does not fit.
bool SynthesizeTestPicture(uint32_t frameNumber, uint32_t timeMs, uint32_t width, uint32_t height,
                           uint8_t* yuy2, size_t strideBytes);

// Checks a delivered picture of the given size whose rows are strideBytes
// apart. True when it is a whole test picture of exactly that size; then *id
// (if not null) receives its frame number and size.
bool CheckTestPicture(const uint8_t* yuy2, uint32_t width, uint32_t height,
                      size_t strideBytes, TestPictureId* id);

// The tone's sample at absolute sample index.
int16_t ToneSample(uint32_t index);

// Writes count tone samples starting at absolute index firstSample.
void SynthesizeTone(uint32_t firstSample, uint32_t count, int16_t* samples);

// Checks delivered PCM bytes. True when they are a whole number (at least two)
// of contiguous tone samples; then *firstSample (if not null) receives the
// absolute index of the first one.
bool CheckTone(const void* pcm, size_t bytes, uint32_t* firstSample);

}  // namespace kxrec
