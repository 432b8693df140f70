// The picture pool and the sound ring on their own.
#include "reader/AudioBuffer.h"
#include "reader/FramePool.h"
#include "reader/PictureQueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(FramePool, ReusesTheLastReturnedBufferFirst) {
    CFramePool pool(64, CFramePool::MaxKept);
    uint8_t* first = pool.AcquireBuffer();
    ASSERT_NE(first, nullptr);
    pool.ReleaseBuffer(first);
    EXPECT_EQ(pool.AcquireBuffer(), first);
    uint8_t* second = pool.AcquireBuffer();
    EXPECT_NE(second, first);
    pool.ReleaseBuffer(first);
    pool.ReleaseBuffer(second);
    EXPECT_EQ(pool.AcquireBuffer(), second);
    EXPECT_EQ(pool.AcquireBuffer(), first);
    pool.ReleaseBuffer(first);
    pool.ReleaseBuffer(second);
}

TEST(FramePool, KeepsAtMost53Buffers) {
    CFramePool pool(16, CFramePool::MaxKept);
    std::vector<uint8_t*> out;
    for (int i = 0; i < 60; ++i) out.push_back(pool.AcquireBuffer());
    for (uint8_t* buffer : out) pool.ReleaseBuffer(buffer);
    EXPECT_EQ(pool.KeptCount(), 53);
    EXPECT_EQ(pool.AcquireBuffer(), out[52]) << "the last kept buffer comes back first";
    pool.ReleaseBuffer(out[52]);
    pool.FreeAll();
    EXPECT_EQ(pool.KeptCount(), 0);
    pool.FreeAll();
    EXPECT_EQ(pool.KeptCount(), 0);
}

TEST(PictureQueue, StaysFirstInFirstOutAcrossWrapAndGrowth) {
    CPictureQueue queue;
    uint8_t marker[1];
    int32_t next = 0;
    int32_t expected = 0;
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 100; ++i) ASSERT_TRUE(queue.Append(QueuedPicture{next++, marker}));
        for (int i = 0; i < 70; ++i) {
            ASSERT_EQ(queue.Front().Length, expected++);
            queue.RemoveFront();
        }
    }
    EXPECT_EQ(queue.Count(), 150);
    while (queue.Count() > 0) {
        ASSERT_EQ(queue.Front().Length, expected++);
        queue.RemoveFront();
    }
    EXPECT_EQ(expected, next);
}

namespace {
std::vector<uint8_t> Bytes(size_t count, uint8_t start) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(start + i * 7);
    return bytes;
}
}  // namespace

TEST(AudioRing, WithoutStorageRefusesEverything) {
    CAudioBuffer ring;
    uint8_t byte = 1;
    uint32_t length = 1;
    EXPECT_EQ(ring.Write(&byte, 1), 0u);
    EXPECT_FALSE(ring.Read(&byte, &length));
    EXPECT_EQ(length, 1u) << "length stays untouched without storage";
    EXPECT_EQ(ring.Available(), 0u);
}

TEST(AudioRing, KeepsOneByteFree) {
    CAudioBuffer ring;
    ASSERT_TRUE(ring.Allocate());
    EXPECT_EQ(ring.CapacityBytes(), 64000);
    std::vector<uint8_t> data = Bytes(64000, 3);
    EXPECT_EQ(ring.Write(data.data(), 64000), 0u);
    EXPECT_EQ(ring.Available(), 0u);
    EXPECT_EQ(ring.Write(data.data(), 63999), 63999u);
    EXPECT_EQ(ring.Write(data.data(), 1), 0u);
    EXPECT_EQ(ring.Available(), 63999u);
    EXPECT_EQ(ring.Write(nullptr, 0), 0u);
}

TEST(AudioRing, WrapsAroundAndReadsInOrder) {
    CAudioBuffer ring;
    ASSERT_TRUE(ring.Allocate());
    std::vector<uint8_t> filler = Bytes(60000, 1);
    ASSERT_EQ(ring.Write(filler.data(), 60000), 60000u);
    std::vector<uint8_t> sink(60000);
    uint32_t length = 60000;
    ASSERT_TRUE(ring.Read(sink.data(), &length));
    ASSERT_EQ(sink, filler);
    std::vector<uint8_t> data = Bytes(10000, 9);
    ASSERT_EQ(ring.Write(data.data(), 10000), 10000u) << "write across the end of the storage";
    std::vector<uint8_t> out(10000);
    length = 3000;
    ASSERT_TRUE(ring.Read(out.data(), &length));
    EXPECT_EQ(length, 3000u);
    length = 7000;
    ASSERT_TRUE(ring.Read(out.data() + 3000, &length)) << "read across the end of the storage";
    EXPECT_EQ(out, data);
    EXPECT_EQ(ring.Available(), 0u);
}

TEST(AudioRing, ReadsAreWholeOrNothing) {
    CAudioBuffer ring;
    ASSERT_TRUE(ring.Allocate());
    std::vector<uint8_t> data = Bytes(500, 5);
    ASSERT_EQ(ring.Write(data.data(), 500), 500u);
    uint32_t length = 0;
    ASSERT_TRUE(ring.Read(nullptr, &length));
    EXPECT_EQ(length, 500u);
    std::vector<uint8_t> out(501, 0xEE);
    length = 501;
    EXPECT_FALSE(ring.Read(out.data(), &length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(out[0], 0xEE) << "nothing is copied by a refused read";
    length = 500;
    ASSERT_TRUE(ring.Read(out.data(), &length));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
    length = 0;
    EXPECT_TRUE(ring.Read(out.data(), &length)) << "an empty read of an empty ring";
    EXPECT_EQ(length, 0u);
}

TEST(AudioRing, ClearZeroesAndEmpties) {
    CAudioBuffer ring;
    ASSERT_TRUE(ring.Allocate());
    std::vector<uint8_t> data(40000, 0x5A);
    ASSERT_EQ(ring.Write(data.data(), 40000), 40000u);
    EXPECT_TRUE(ring.Clear());
    EXPECT_EQ(ring.Available(), 0u);
    EXPECT_EQ(ring.CapacityBytes(), 64000);
    for (int32_t i = 0; i < 64000; i += 997) ASSERT_EQ(ring.StorageByte(i), 0) << i;
    EXPECT_EQ(ring.Write(data.data(), 40000), 40000u);
}
