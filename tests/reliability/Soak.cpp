#include "Soak.h"

#include <cstdlib>

uint32_t SoakFactor() {
    static const uint32_t factor = [] {
        const char* text = std::getenv("KX_SOAK");
        if (!text) return 1u;
        const unsigned long value = std::strtoul(text, nullptr, 10);
        return value >= 1 && value <= 100000 ? static_cast<uint32_t>(value) : 1u;
    }();
    return factor;
}

uint32_t Rounds(uint32_t base) { return base * SoakFactor(); }
