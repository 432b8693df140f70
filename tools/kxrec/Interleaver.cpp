#include "tools/kxrec/Interleaver.h"

namespace kxrec {

uint32_t CInterleaver::PictureTime(uint32_t n) const {
    return static_cast<uint32_t>(1000ull * n * FpsDen / FpsNum);
}

}  // namespace kxrec
