#include "AllocationSpy.h"
#include "CountingUnknown.h"
#include "LiveObjectTest.h"

#include "framework/MediaFormat.h"

#include <cstring>

#include <objbase.h>
#include <uuids.h>

namespace {

CMediaFormat VideoType(ULONG blockLength, BYTE fill) {
    CMediaFormat type;
    type.PutMajorType(MEDIATYPE_Video);
    type.PutSubtype(MEDIASUBTYPE_YUY2);
    type.PutFormatType(FORMAT_VideoInfo);
    BYTE* block = type.EnsureFormatBlock(blockLength);
    if (block) {
        std::memset(block, fill, blockLength);
    }
    return type;
}

class MediaTypes : public LiveObjectTest {
protected:
    void SetUp() override {
        LiveObjectTest::SetUp();
        Spy = new AllocationSpy;
        ASSERT_TRUE(Spy->Registered()) << "the task allocator must accept a spy";
    }
    void TearDown() override {
        EXPECT_EQ(0u, Spy->LiveBlocks()) << "task memory leaked";
        EXPECT_EQ(0u, Spy->BadFrees()) << "task memory freed twice or not ours";
        delete Spy;
        LiveObjectTest::TearDown();
    }
    AllocationSpy* Spy = nullptr;
};

TEST_F(MediaTypes, DefaultTypeIsEmptyFixedSizeAndIncomplete) {
    CMediaFormat type;
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.majortype));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.subtype));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.formattype));
    EXPECT_EQ(1u, type.lSampleSize);
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_EQ(0u, type.cbFormat);
    EXPECT_EQ(nullptr, type.pbFormat);
    EXPECT_TRUE(type.IsIncomplete());
}

TEST_F(MediaTypes, CopiesOwnIndependentBlocks) {
    CMediaFormat source = VideoType(88, 0x5A);
    CMediaFormat copy(source);
    ASSERT_EQ(88u, copy.cbFormat);
    EXPECT_NE(source.pbFormat, copy.pbFormat);
    EXPECT_TRUE(copy.Equals(source));
    copy.pbFormat[0] = 1;
    EXPECT_EQ(0x5A, source.pbFormat[0]);
    CMediaFormat assigned;
    assigned = source;
    EXPECT_NE(source.pbFormat, assigned.pbFormat);
    assigned = VideoType(20, 1);
    EXPECT_EQ(20u, assigned.cbFormat);
}

TEST_F(MediaTypes, SelfAssignmentKeepsTheBlock) {
    CMediaFormat type = VideoType(88, 3);
    BYTE* block = type.pbFormat;
    CMediaFormat& same = type;
    type = same;
    EXPECT_EQ(S_OK, type.AssignFrom(type));
    EXPECT_EQ(block, type.pbFormat);
    EXPECT_EQ(88u, type.cbFormat);
    EXPECT_EQ(3, type.pbFormat[87]);
}

TEST_F(MediaTypes, BareRecordsAreCopiedAndFreedWithTheTaskAllocator) {
    CMediaFormat source = VideoType(40, 9);
    size_t before = Spy->Allocations();
    auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    ASSERT_NE(nullptr, record);
    ASSERT_EQ(S_OK, CopyMediaTypeDeep(record, &source));
    EXPECT_EQ(before + 2, Spy->Allocations());
    EXPECT_NE(source.pbFormat, record->pbFormat);
    FreeMediaTypeBlock(record);
    FreeMediaTypeBlock(nullptr);
    AM_MEDIA_TYPE onStack;
    CopyMediaTypeDeep(&onStack, &source);
    ClearMediaType(&onStack);
    EXPECT_EQ(0u, onStack.cbFormat);
    EXPECT_EQ(nullptr, onStack.pbFormat);
    ClearMediaType(&onStack);
}

TEST_F(MediaTypes, EachCopyHoldsItsOwnUnknownReference) {
    CountingUnknown extra;
    {
        CMediaFormat type = VideoType(4, 0);
        type.pUnk = &extra;
        extra.AddRef();
        CMediaFormat copy(type);
        EXPECT_EQ(2, extra.References);
        AM_MEDIA_TYPE bare;
        CopyMediaTypeDeep(&bare, &type);
        EXPECT_EQ(3, extra.References);
        ClearMediaType(&bare);
        EXPECT_EQ(nullptr, bare.pUnk);
        EXPECT_EQ(2, extra.References);
    }
    EXPECT_EQ(0, extra.References);
}

TEST_F(MediaTypes, ResetGivesTheEmptyFixedSizeRecordAndFreesNothing) {
    AM_MEDIA_TYPE record;
    std::memset(&record, 0xCC, sizeof(record));
    ResetMediaType(&record);
    EXPECT_EQ(1u, record.lSampleSize);
    EXPECT_TRUE(record.bFixedSizeSamples);
    EXPECT_EQ(0u, record.cbFormat);
    EXPECT_EQ(nullptr, record.pUnk);
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, record.majortype));
}

TEST_F(MediaTypes, EqualsIgnoresSampleSizeButNotTheBlock) {
    CMediaFormat a = VideoType(16, 1);
    CMediaFormat b = VideoType(16, 1);
    b.PutSampleSize(4096);
    b.MarkVariableSize();
    EXPECT_TRUE(a.Equals(b));
    b.pbFormat[15] = 2;
    EXPECT_FALSE(a.Equals(b));
    CMediaFormat shorter = VideoType(15, 1);
    EXPECT_FALSE(a.Equals(shorter));
    CMediaFormat audio = VideoType(16, 1);
    audio.PutMajorType(MEDIATYPE_Audio);
    EXPECT_FALSE(a.Equals(audio));
}

TEST_F(MediaTypes, PatternsMatchOnTheFieldsTheySet) {
    CMediaFormat type = VideoType(16, 7);
    CMediaFormat majorOnly;
    majorOnly.PutMajorType(MEDIATYPE_Video);
    EXPECT_TRUE(type.MatchesPattern(majorOnly));
    majorOnly.PutMajorType(MEDIATYPE_Audio);
    EXPECT_FALSE(type.MatchesPattern(majorOnly));
    CMediaFormat subtypeOnly;
    subtypeOnly.PutSubtype(MEDIASUBTYPE_RGB24);
    EXPECT_FALSE(type.MatchesPattern(subtypeOnly));
    CMediaFormat full = VideoType(16, 7);
    EXPECT_TRUE(type.MatchesPattern(full));
    full.pbFormat[3] = 8;
    EXPECT_FALSE(type.MatchesPattern(full));
    CMediaFormat formatOnlyNoBlock;
    formatOnlyNoBlock.PutFormatType(FORMAT_VideoInfo);
    EXPECT_FALSE(type.MatchesPattern(formatOnlyNoBlock)) << "a set format type compares the block length";
    CMediaFormat empty;
    EXPECT_TRUE(type.MatchesPattern(empty));
}

TEST_F(MediaTypes, CompletenessNeedsMajorAndFormatType) {
    CMediaFormat type;
    type.PutMajorType(MEDIATYPE_Video);
    EXPECT_TRUE(type.IsIncomplete());
    type.PutFormatType(FORMAT_VideoInfo);
    EXPECT_FALSE(type.IsIncomplete()) << "the subtype is not needed";
    type.PutMajorType(GUID_NULL);
    EXPECT_TRUE(type.IsIncomplete());
}

TEST_F(MediaTypes, SampleSizeZeroOnlyMarksVariableSize) {
    CMediaFormat type;
    type.PutSampleSize(800);
    EXPECT_EQ(800u, type.lSampleSize);
    type.PutSampleSize(0);
    EXPECT_EQ(800u, type.lSampleSize);
    EXPECT_FALSE(type.bFixedSizeSamples);
    type.PutSampleSize(10);
    EXPECT_TRUE(type.bFixedSizeSamples);
}

TEST_F(MediaTypes, EnsureFormatBlockReplacesOnlyOnAChangeOfLength) {
    CMediaFormat type;
    EXPECT_EQ(nullptr, type.EnsureFormatBlock(0));
    BYTE* first = type.EnsureFormatBlock(32);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, type.EnsureFormatBlock(32));
    EXPECT_EQ(1u, Spy->LiveBlocks());
    BYTE* second = type.EnsureFormatBlock(64);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(64u, type.cbFormat);
    EXPECT_EQ(1u, Spy->LiveBlocks()) << "the old block must be freed";
    EXPECT_EQ(nullptr, type.EnsureFormatBlock(0));
    EXPECT_EQ(0u, type.cbFormat);
    EXPECT_EQ(0u, Spy->LiveBlocks()) << "shrinking to nothing must not keep an unowned block";
    const BYTE bytes[3] = {1, 2, 3};
    EXPECT_TRUE(type.PutFormatBlock(bytes, 3));
    EXPECT_EQ(0, std::memcmp(bytes, type.pbFormat, 3));
}

}  // namespace
