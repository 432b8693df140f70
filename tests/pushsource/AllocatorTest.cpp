// Allocator negotiation when the source pin connects: the peer's allocator
// first, a new memory allocator when the peer has none or it is refused, the
// request built from the peer's requirements, and how refusals of both end
// the connection attempt.
#include "OneStreamTest.h"

#include <vfwmsgs.h>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

class AllocatorTest : public OneStreamTest {
protected:
    CMediaFormat CompleteType() {
        CMediaFormat type;
        Stream->StreamMediaType(&type);
        return type;
    }
    bool Connected() {
        ComPtr<IPin> peer;
        return Pin()->ConnectedTo(&peer) == S_OK;
    }
};

LONG CountOf(IUnknown* object) {
    object->AddRef();
    return static_cast<LONG>(object->Release());
}

}  // namespace

TEST_F(AllocatorTest, PeersOwnAllocatorIsSizedAndAnnouncedWritable) {
    Sink->OfferOwnAllocator = true;
    ASSERT_EQ(S_OK, Pin()->Connect(Sink.Get(), nullptr));
    EXPECT_EQ(1, Stream->SizingCalls.load());
    EXPECT_EQ(Sink->OwnAllocator(), Sink->Notified);
    EXPECT_EQ(FALSE, Sink->NotifiedReadOnly);
    ALLOCATOR_PROPERTIES granted = {};
    ASSERT_EQ(S_OK, Sink->Notified->GetProperties(&granted));
    EXPECT_EQ(Stream->Script.BufferCount, granted.cBuffers);
    EXPECT_GE(granted.cbBuffer, Stream->Script.BufferSize);
}

TEST_F(AllocatorTest, RefusedPeerAllocatorIsReleasedAndReplacedByANewOne) {
    Sink->OfferOwnAllocator = true;
    Sink->RequirementsResult = S_OK;
    Sink->Requirements = {3, 16, 0, 8};
    Stream->Script.RefuseSizing = 1;
    ASSERT_EQ(S_OK, Pin()->Connect(Sink.Get(), nullptr));
    EXPECT_EQ(2, Stream->SizingCalls.load());
    ASSERT_NE(nullptr, Sink->Notified);
    EXPECT_NE(Sink->OwnAllocator(), Sink->Notified);
    EXPECT_EQ(Sink->Notified, Stream->LastSized);
    EXPECT_EQ(FALSE, Sink->NotifiedReadOnly);
    EXPECT_EQ(1, CountOf(Sink->OwnAllocator())) << "the refused allocator is still held";
    EXPECT_EQ(3, Stream->FirstRequest.cBuffers);
    EXPECT_EQ(16, Stream->FirstRequest.cbBuffer);
    EXPECT_EQ(1, Stream->FirstRequest.cbAlign) << "alignment 0 becomes 1";
    EXPECT_EQ(8, Stream->FirstRequest.cbPrefix);
}

TEST_F(AllocatorTest, PeerWithoutRequirementsGetsAZeroRequestAlignedToOne) {
    Sink->RequirementsResult = E_NOTIMPL;
    ASSERT_EQ(S_OK, Pin()->Connect(Sink.Get(), nullptr));
    EXPECT_EQ(0, Stream->FirstRequest.cBuffers);
    EXPECT_EQ(0, Stream->FirstRequest.cbBuffer);
    EXPECT_EQ(1, Stream->FirstRequest.cbAlign);
    EXPECT_EQ(0, Stream->FirstRequest.cbPrefix);
    EXPECT_NE(nullptr, Sink->Notified) << "a new memory allocator serves a peer without one";
}

TEST_F(AllocatorTest, BothRefusedWithACompleteTypeFailsWithTheRefusal) {
    Sink->OfferOwnAllocator = true;
    Stream->Script.RefuseSizing = 2;
    const CMediaFormat type = CompleteType();
    EXPECT_EQ(E_FAIL, Pin()->Connect(Sink.Get(), &type));
    EXPECT_FALSE(Connected());
    EXPECT_EQ(nullptr, Sink->Connector) << "the peer that accepted is disconnected again";
    EXPECT_EQ(1, CountOf(Sink->OwnAllocator()));
}

TEST_F(AllocatorTest, GeneralRefusalDuringEnumerationEndsAsNoAcceptableTypes) {
    Stream->Script.RefuseSizing = 2;
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, Pin()->Connect(Sink.Get(), nullptr));
    EXPECT_FALSE(Connected());
}

TEST_F(AllocatorTest, SpecificRefusalIsReportedAsIs) {
    Stream->Script.RefuseSizing = 2;
    Stream->Script.RefusalCode = VFW_E_SIZENOTSET;
    EXPECT_EQ(VFW_E_SIZENOTSET, Pin()->Connect(Sink.Get(), nullptr));
    EXPECT_FALSE(Connected());
    Stream->Script.RefuseSizing = 2;
    const CMediaFormat type = CompleteType();
    EXPECT_EQ(VFW_E_SIZENOTSET, Pin()->Connect(Sink.Get(), &type));
    Stream->Script.RefuseSizing = 0;
    EXPECT_EQ(S_OK, Pin()->Connect(Sink.Get(), &type)) << "a later attempt starts clean";
}
