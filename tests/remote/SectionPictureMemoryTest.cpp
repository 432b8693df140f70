// The helper's picture memory: buffers come out of one section per picture
// size, each found again where the module maps it, and a replaced section
// goes once its last buffer is back.
#include "remote/SectionPictureMemory.h"

#include <gtest/gtest.h>

#include <vector>

TEST(SectionPictureMemory, BuffersOfOneSizeShareASectionUpToItsSlots) {
    CSectionPictureMemory memory;
    const int32_t bytes = 352 * 288 * 2;
    const int32_t slots = CSectionPictureMemory::SlotsFor(bytes);
    std::vector<uint8_t*> buffers;
    for (int32_t i = 0; i < slots; ++i) {
        buffers.push_back(memory.Allocate(bytes));
        ASSERT_NE(nullptr, buffers.back()) << "slot " << i;
    }
    EXPECT_EQ(nullptr, memory.Allocate(bytes)) << "more buffers than the section has slots";
    HANDLE section = nullptr, first = nullptr;
    uint64_t sectionBytes = 0, offset = 0;
    uint32_t generation = 0;
    ASSERT_TRUE(memory.Locate(buffers[0], &first, &sectionBytes, &generation, &offset));
    for (uint8_t* buffer : buffers) {
        ASSERT_TRUE(memory.Locate(buffer, &section, &sectionBytes, &generation, &offset));
        EXPECT_EQ(first, section);
        EXPECT_EQ(0u, offset % 4096) << "a picture starts on a page";
        EXPECT_LE(offset + bytes, sectionBytes);
        buffer[bytes - 1] = 1;
    }
    memory.Free(buffers.back());
    EXPECT_EQ(buffers.back(), memory.Allocate(bytes)) << "a freed slot is handed out again";
    uint8_t outside = 0;
    EXPECT_FALSE(memory.Locate(&outside, &section, &sectionBytes, &generation, &offset));
    for (uint8_t* buffer : buffers) memory.Free(buffer);
}

TEST(SectionPictureMemory, ANewSizeStartsANewGenerationAndTheOldSectionGoesWithItsLastBuffer) {
    CSectionPictureMemory memory;
    uint8_t* small = memory.Allocate(176 * 144 * 2);
    ASSERT_NE(nullptr, small);
    HANDLE oldSection = nullptr, section = nullptr;
    uint64_t sectionBytes = 0, offset = 0;
    uint32_t oldGeneration = 0, generation = 0;
    ASSERT_TRUE(memory.Locate(small, &oldSection, &sectionBytes, &oldGeneration, &offset));
    uint8_t* large = memory.Allocate(1920 * 1080 * 2);
    ASSERT_NE(nullptr, large);
    ASSERT_TRUE(memory.Locate(large, &section, &sectionBytes, &generation, &offset));
    EXPECT_NE(oldGeneration, generation);
    EXPECT_TRUE(memory.Locate(small, &section, &sectionBytes, &generation, &offset)) << "still in use";
    EXPECT_EQ(oldGeneration, generation);
    memory.Free(small);
    EXPECT_FALSE(memory.Locate(small, &section, &sectionBytes, &generation, &offset)) << "the old section stayed";
    memory.Free(large);
}
