#include "LiveObjectTest.h"
#include "PeerPin.h"
#include "TestFilter.h"

#include <cstring>
#include <string>

#include <amvideo.h>
#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

namespace {

// The platform's Null Renderer; its class id is missing from the headers.
const CLSID NullRendererClassId = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

CMediaFormat VideoType(LONG width) {
    CMediaFormat type;
    type.PutMajorType(MEDIATYPE_Video);
    type.PutSubtype(MEDIASUBTYPE_YUY2);
    type.PutFormatType(FORMAT_VideoInfo);
    VIDEOINFOHEADER info;
    std::memset(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = 240;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 16;
    info.bmiHeader.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    info.bmiHeader.biSizeImage = static_cast<DWORD>(width * 240 * 2);
    type.PutFormatBlock(reinterpret_cast<const BYTE*>(&info), sizeof(info));
    type.PutSampleSize(info.bmiHeader.biSizeImage);
    return type;
}

CMediaFormat AudioType() {
    CMediaFormat type;
    type.PutMajorType(MEDIATYPE_Audio);
    type.PutSubtype(MEDIASUBTYPE_PCM);
    type.PutFormatType(FORMAT_WaveFormatEx);
    WAVEFORMATEX wave = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    type.PutFormatBlock(reinterpret_cast<const BYTE*>(&wave), sizeof(wave));
    return type;
}

CMediaFormat MajorPattern(const GUID& major) {
    CMediaFormat pattern;
    pattern.PutMajorType(major);
    return pattern;
}

class PinConnection : public LiveObjectTest {
protected:
    void SetUp() override {
        LiveObjectTest::SetUp();
        Filter = TestFilter::Create(2);
        Pin = Filter->Pin(0);
    }
    void TearDown() override {
        Filter->Stop();
        Filter->Pin(0)->Disconnect();
        Filter->Pin(1)->Disconnect();
        Peer.Disconnect();
        EXPECT_EQ(0, Peer.References) << "a reference on the peer was not given back";
        EXPECT_EQ(0u, Filter->InnerRelease());
        LiveObjectTest::TearDown();
    }
    bool ConnectionIs(const CMediaFormat& expected) {
        AM_MEDIA_TYPE current;
        if (Pin->ConnectionMediaType(&current) != S_OK) {
            return false;
        }
        bool same = expected.Equals(current) != FALSE;
        ClearMediaType(&current);
        return same;
    }

    PeerPin Peer;
    TestFilter* Filter = nullptr;
    TestPin* Pin = nullptr;
};

TEST_F(PinConnection, CompleteTypeIsTriedAloneAndOwnRefusalIsGeneral) {
    Peer.Offered.push_back(VideoType(320));
    Pin->Accepted.push_back(VideoType(640));
    CMediaFormat wanted = VideoType(320);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, Pin->Connect(&Peer, &wanted));
    EXPECT_TRUE(Peer.Received.empty());
    EXPECT_EQ(1, Pin->VerifyCalls);
    EXPECT_GE(Pin->TearDownCalls, 1);
    EXPECT_FALSE(Pin->IsConnected());
}

TEST_F(PinConnection, AcceptedTypeConnectsBothWaysAndDisconnects) {
    CMediaFormat wanted = VideoType(320);
    ASSERT_EQ(S_OK, Pin->Connect(&Peer, &wanted));
    EXPECT_EQ(static_cast<IPin*>(Pin), Peer.Connector);
    IPin* peer = nullptr;
    ASSERT_EQ(S_OK, Pin->ConnectedTo(&peer));
    EXPECT_EQ(&Peer, peer);
    peer->Release();
    EXPECT_TRUE(ConnectionIs(wanted));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, Pin->Connect(&Peer, &wanted));
    EXPECT_EQ(1u, Peer.Received.size());
    EXPECT_EQ(S_OK, Pin->Disconnect());
    EXPECT_EQ(S_FALSE, Pin->Disconnect());
    EXPECT_TRUE(Pin->CurrentConnectionType().Equals(wanted)) << "the last type is kept";
}

TEST_F(PinConnection, PatternWalksPeerTypesFirstThenOwnSkippingMismatches) {
    Peer.Offered.push_back(AudioType());
    Peer.Offered.push_back(VideoType(320));
    Pin->Offered.push_back(VideoType(640));
    Peer.Accepted.push_back(VideoType(640));
    CMediaFormat pattern = MajorPattern(MEDIATYPE_Video);
    ASSERT_EQ(S_OK, Pin->Connect(&Peer, &pattern));
    ASSERT_EQ(2u, Peer.Received.size());
    EXPECT_TRUE(Peer.Received[0].Equals(VideoType(320)));
    EXPECT_TRUE(Peer.Received[1].Equals(VideoType(640)));
    EXPECT_TRUE(ConnectionIs(VideoType(640)));
}

TEST_F(PinConnection, OwnTypesFirstWhenAsked) {
    Peer.Offered.push_back(VideoType(320));
    Pin->Offered.push_back(VideoType(640));
    Pin->SetTryOwnTypesFirst(true);
    ASSERT_EQ(S_OK, Pin->Connect(&Peer, nullptr));
    ASSERT_EQ(1u, Peer.Received.size());
    EXPECT_TRUE(Peer.Received[0].Equals(VideoType(640)));
}

TEST_F(PinConnection, NothingMatchingReportsNoAcceptableTypes) {
    Peer.Offered.push_back(AudioType());
    Pin->Offered.push_back(AudioType());
    CMediaFormat pattern = MajorPattern(MEDIATYPE_Video);
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, Pin->Connect(&Peer, &pattern));
    EXPECT_TRUE(Peer.Received.empty());
    EXPECT_FALSE(Pin->IsConnected());
}

TEST_F(PinConnection, SpecificRefusalIsReportedAndGeneralOneIsNot) {
    Pin->Offered.push_back(VideoType(320));
    Pin->Offered.push_back(VideoType(640));
    Peer.Accepted.push_back(AudioType());
    Peer.RefusalCode = VFW_E_BUFFERS_OUTSTANDING;
    EXPECT_EQ(VFW_E_BUFFERS_OUTSTANDING, Pin->Connect(&Peer, nullptr));
    EXPECT_EQ(2u, Peer.Received.size());
    Peer.RefusalCode = E_FAIL;
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, Pin->Connect(&Peer, nullptr));
    CMediaFormat wanted = VideoType(320);
    EXPECT_EQ(E_FAIL, Pin->Connect(&Peer, &wanted)) << "a single complete type reports the peer's code";
    EXPECT_FALSE(Pin->IsConnected());
}

TEST_F(PinConnection, PeerOfTheSameDirectionIsRefused) {
    Peer.Direction = PINDIR_OUTPUT;
    CMediaFormat wanted = VideoType(320);
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, Pin->Connect(&Peer, &wanted));
    Pin->Offered.push_back(VideoType(320));
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, Pin->Connect(&Peer, nullptr));
    EXPECT_TRUE(Peer.Received.empty());
}

TEST_F(PinConnection, FailureAfterThePeerAcceptedDisconnectsThePeer) {
    Pin->FinishResult = VFW_E_NO_ALLOCATOR;
    CMediaFormat wanted = VideoType(320);
    EXPECT_EQ(VFW_E_NO_ALLOCATOR, Pin->Connect(&Peer, &wanted));
    EXPECT_EQ(1, Peer.DisconnectCalls);
    EXPECT_EQ(nullptr, Peer.Connector);
    EXPECT_FALSE(Pin->IsConnected());
}

TEST_F(PinConnection, ConnectionChangesNeedAStoppedFilter) {
    CMediaFormat wanted = VideoType(320);
    ASSERT_EQ(S_OK, Pin->Connect(&Peer, &wanted));
    ASSERT_EQ(S_OK, Filter->Pause());
    PeerPin other;
    EXPECT_EQ(VFW_E_NOT_STOPPED, Filter->Pin(1)->Connect(&other, &wanted));
    EXPECT_EQ(VFW_E_NOT_STOPPED, Filter->Pin(1)->ReceiveConnection(&other, &wanted));
    EXPECT_EQ(VFW_E_NOT_STOPPED, Pin->Disconnect());
    EXPECT_TRUE(Pin->IsConnected());
    EXPECT_EQ(0, other.References);
    EXPECT_EQ(E_POINTER, Pin->Connect(nullptr, &wanted));
}

TEST_F(PinConnection, ReceivingSideChecksTheTypeAndKeepsTheConnector) {
    CMediaFormat wanted = VideoType(320);
    EXPECT_EQ(E_POINTER, Pin->ReceiveConnection(&Peer, nullptr));
    EXPECT_EQ(E_POINTER, Pin->ReceiveConnection(nullptr, &wanted));
    Pin->Accepted.push_back(AudioType());
    Pin->RefusalCode = E_INVALIDARG;
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, Pin->ReceiveConnection(&Peer, &wanted));
    Pin->RefusalCode = VFW_E_INVALIDMEDIATYPE;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, Pin->ReceiveConnection(&Peer, &wanted));
    Pin->Accepted.clear();
    Pin->FinishResult = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY, Pin->ReceiveConnection(&Peer, &wanted));
    EXPECT_EQ(0, Peer.References);
    Pin->FinishResult = S_OK;
    EXPECT_EQ(S_OK, Pin->ReceiveConnection(&Peer, &wanted));
    EXPECT_EQ(1, Peer.References);
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, Pin->ReceiveConnection(&Peer, &wanted));
}

TEST_F(PinConnection, QueriesOfAnUnconnectedPin) {
    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, Pin->ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer);
    AM_MEDIA_TYPE type;
    std::memset(&type, 0xAB, sizeof(type));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, Pin->ConnectionMediaType(&type));
    EXPECT_EQ(1u, type.lSampleSize);
    EXPECT_EQ(0u, type.cbFormat);
    EXPECT_EQ(E_POINTER, Pin->ConnectedTo(nullptr));
    EXPECT_EQ(E_POINTER, Pin->ConnectionMediaType(nullptr));
    EXPECT_EQ(E_POINTER, Pin->QueryPinInfo(nullptr));
    EXPECT_EQ(E_POINTER, Pin->QueryDirection(nullptr));
    EXPECT_EQ(E_POINTER, Pin->EnumMediaTypes(nullptr));
    EXPECT_EQ(E_POINTER, Pin->QueryAccept(nullptr));
    EXPECT_EQ(E_NOTIMPL, Pin->QueryInternalConnections(nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, Pin->Notify(nullptr, Quality()));
}

TEST_F(PinConnection, QueryAcceptTurnsRefusalsIntoFalse) {
    Pin->Accepted.push_back(AudioType());
    CMediaFormat video = VideoType(320);
    Pin->RefusalCode = E_FAIL;
    EXPECT_EQ(S_FALSE, Pin->QueryAccept(&video));
    Pin->RefusalCode = VFW_E_INVALIDMEDIATYPE;
    EXPECT_EQ(S_FALSE, Pin->QueryAccept(&video));
    CMediaFormat audio = AudioType();
    EXPECT_EQ(S_OK, Pin->QueryAccept(&audio));
}

TEST_F(PinConnection, PinInfoTruncatesTheNameAndCountsTheFilter) {
    std::wstring name(200, L'p');
    TestPin* longNamed = Filter->AddPin(name.c_str());
    PIN_INFO info;
    ASSERT_EQ(S_OK, longNamed->QueryPinInfo(&info));
    EXPECT_EQ(std::wstring(name, 0, 127), std::wstring(info.achName));
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_EQ(static_cast<IBaseFilter*>(Filter), info.pFilter);
    EXPECT_EQ(2, Filter->CurrentRefCount());
    info.pFilter->Release();
}

TEST_F(PinConnection, SegmentStartsOpenAndTakesNewValues) {
    EXPECT_EQ(0, Pin->CurrentSegmentStart());
    EXPECT_EQ(0x7FFFFFFFFFFFFFFFLL, Pin->CurrentSegmentStop());
    EXPECT_EQ(1.0, Pin->CurrentSegmentRate());
    EXPECT_EQ(S_OK, Pin->NewSegment(10, 20, 2.0));
    EXPECT_EQ(10, Pin->CurrentSegmentStart());
    EXPECT_EQ(20, Pin->CurrentSegmentStop());
    EXPECT_EQ(2.0, Pin->CurrentSegmentRate());
}

// Against the platform's own renderer input pin.
class NullRendererConnection : public PinConnection {
protected:
    void SetUp() override {
        PinConnection::SetUp();
        ASSERT_EQ(S_OK, CoCreateInstance(NullRendererClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         reinterpret_cast<void**>(&Renderer)));
        IEnumPins* pins = nullptr;
        ASSERT_EQ(S_OK, Renderer->EnumPins(&pins));
        ULONG fetched = 0;
        ASSERT_EQ(S_OK, pins->Next(1, &Input, &fetched));
        pins->Release();
    }
    void TearDown() override {
        if (Input) {
            Input->Disconnect();
            Input->Release();
        }
        if (Renderer) {
            Renderer->Release();
        }
        PinConnection::TearDown();
    }
    void ExpectConnectedBothWays() {
        IPin* back = nullptr;
        ASSERT_EQ(S_OK, Input->ConnectedTo(&back));
        EXPECT_EQ(static_cast<IPin*>(Pin), back);
        back->Release();
    }

    IBaseFilter* Renderer = nullptr;
    IPin* Input = nullptr;
};

TEST_F(NullRendererConnection, CompleteTypeConnects) {
    CMediaFormat wanted = VideoType(320);
    ASSERT_EQ(S_OK, Pin->Connect(Input, &wanted));
    ExpectConnectedBothWays();
    EXPECT_TRUE(ConnectionIs(wanted));
    AM_MEDIA_TYPE theirs;
    ASSERT_EQ(S_OK, Input->ConnectionMediaType(&theirs));
    EXPECT_TRUE(wanted.Equals(theirs));
    ClearMediaType(&theirs);
}

TEST_F(NullRendererConnection, PatternConnectsWithTheMatchingOwnType) {
    Pin->Offered.push_back(AudioType());
    Pin->Offered.push_back(VideoType(640));
    CMediaFormat pattern = MajorPattern(MEDIATYPE_Video);
    ASSERT_EQ(S_OK, Pin->Connect(Input, &pattern));
    ExpectConnectedBothWays();
    EXPECT_TRUE(ConnectionIs(VideoType(640)));
}

TEST_F(NullRendererConnection, NoTypeConnectsWithTheFirstOwnType) {
    Pin->Offered.push_back(AudioType());
    ASSERT_EQ(S_OK, Pin->Connect(Input, nullptr));
    ExpectConnectedBothWays();
    EXPECT_TRUE(ConnectionIs(AudioType()));
}

TEST_F(NullRendererConnection, ReportedCodes) {
    CMediaFormat pattern = MajorPattern(MEDIATYPE_Video);
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, Pin->Connect(Input, &pattern)) << "no type offered by either side";
    Pin->Accepted.push_back(AudioType());
    CMediaFormat video = VideoType(320);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, Pin->Connect(Input, &video));
    Pin->Accepted.clear();
    ASSERT_EQ(S_OK, Pin->Connect(Input, &video));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, Filter->Pin(1)->Connect(Input, &video))
        << "the renderer's own refusal is passed on";
    EXPECT_FALSE(Filter->Pin(1)->IsConnected());
    EXPECT_EQ(S_OK, Input->Disconnect());
    EXPECT_EQ(S_OK, Pin->Disconnect());
}

}  // namespace
