// Stream and presentation descriptors, topology nodes and topologies, and the topology checks of SetTopology.

#include "TestCallback.h"
#include <mferror.h>
#include <mfidl.h>

#include <gtest/gtest.h>

namespace {

ComPtr<IMFMediaType> MajorType(const GUID& major, const GUID& subtype) {
    ComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, major);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    return type;
}

TEST(SessionDescriptorTest, AStreamDescriptorOffersItsTypesThroughItsHandler) {
    ComPtr<IMFMediaType> video = MajorType(MFMediaType_Video, MFVideoFormat_NV12);
    ComPtr<IMFStreamDescriptor> descriptor;
    ASSERT_EQ(MFCreateStreamDescriptor(7, 1, video.GetAddressOf(), &descriptor), S_OK);
    DWORD id = 0;
    ASSERT_EQ(descriptor->GetStreamIdentifier(&id), S_OK);
    EXPECT_EQ(id, 7u);
    ComPtr<IMFMediaTypeHandler> handler;
    ASSERT_EQ(descriptor->GetMediaTypeHandler(&handler), S_OK);
    DWORD count = 0;
    ASSERT_EQ(handler->GetMediaTypeCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<IMFMediaType> type;
    EXPECT_EQ(handler->GetMediaTypeByIndex(1, &type), MF_E_NO_MORE_TYPES);
    EXPECT_EQ(handler->GetCurrentMediaType(&type), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(type, nullptr);
    GUID major = GUID_NULL;
    ASSERT_EQ(handler->GetMajorType(&major), S_OK);
    EXPECT_EQ(major, MFMediaType_Video);

    ComPtr<IMFMediaType> other = MajorType(MFMediaType_Video, MFVideoFormat_ARGB32);
    EXPECT_EQ(handler->IsMediaTypeSupported(other.Get(), nullptr), MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(handler->SetCurrentMediaType(other.Get()), MF_E_INVALIDMEDIATYPE);
    // A type with everything offered and more is supported.
    ComPtr<IMFMediaType> richer = MajorType(MFMediaType_Video, MFVideoFormat_NV12);
    richer->SetUINT32(MF_MT_AVG_BITRATE, 1000);
    EXPECT_EQ(handler->SetCurrentMediaType(richer.Get()), S_OK);
    ASSERT_EQ(handler->GetCurrentMediaType(&type), S_OK);
    EXPECT_EQ(type, richer);

    EXPECT_EQ(MFCreateStreamDescriptor(0, 0, video.GetAddressOf(), &descriptor), E_INVALIDARG);
    IMFMediaType* none[] = {nullptr};
    EXPECT_EQ(MFCreateStreamDescriptor(0, 1, none, &descriptor), E_POINTER);
    EXPECT_EQ(descriptor, nullptr);
}

TEST(SessionDescriptorTest, APresentationDescriptorSelectsAndClonesItsStreams) {
    ComPtr<IMFMediaType> video = MajorType(MFMediaType_Video, MFVideoFormat_NV12);
    ComPtr<IMFStreamDescriptor> streams[2];
    ASSERT_EQ(MFCreateStreamDescriptor(0, 1, video.GetAddressOf(), &streams[0]), S_OK);
    ASSERT_EQ(MFCreateStreamDescriptor(1, 1, video.GetAddressOf(), &streams[1]), S_OK);
    IMFStreamDescriptor* raw[] = {streams[0].Get(), streams[1].Get()};
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(MFCreatePresentationDescriptor(2, raw, &presentation), S_OK);
    BOOL selected = TRUE;
    ComPtr<IMFStreamDescriptor> stream;
    ASSERT_EQ(presentation->GetStreamDescriptorByIndex(0, &selected, &stream), S_OK);
    EXPECT_FALSE(selected);
    EXPECT_EQ(presentation->SelectStream(1), S_OK);
    EXPECT_EQ(presentation->SelectStream(2), E_INVALIDARG);
    EXPECT_EQ(presentation->GetStreamDescriptorByIndex(2, &selected, &stream), E_INVALIDARG);
    presentation->SetUINT32(MF_MT_AVG_BITRATE, 5);

    ComPtr<IMFPresentationDescriptor> clone;
    ASSERT_EQ(presentation->Clone(&clone), S_OK);
    presentation->DeselectStream(1);
    ASSERT_EQ(clone->GetStreamDescriptorByIndex(1, &selected, &stream), S_OK);
    EXPECT_TRUE(selected);
    EXPECT_EQ(stream, streams[1]);
    EXPECT_EQ(MFGetAttributeUINT32(clone.Get(), MF_MT_AVG_BITRATE, 0), 5u);
}

ComPtr<IMFTopologyNode> Node(MF_TOPOLOGY_TYPE type) {
    ComPtr<IMFTopologyNode> node;
    EXPECT_EQ(MFCreateTopologyNode(type, &node), S_OK);
    return node;
}

TEST(SessionTopologyTest, NodesConnectOutputToInputAndReplaceOldLinks) {
    const auto source = Node(MF_TOPOLOGY_SOURCESTREAM_NODE);
    const auto first = Node(MF_TOPOLOGY_TRANSFORM_NODE);
    const auto second = Node(MF_TOPOLOGY_TRANSFORM_NODE);
    const auto output = Node(MF_TOPOLOGY_OUTPUT_NODE);
    ASSERT_EQ(source->ConnectOutput(0, first.Get(), 0), S_OK);
    ComPtr<IMFTopologyNode> linked;
    DWORD index = 9;
    ASSERT_EQ(first->GetInput(0, &linked, &index), S_OK);
    EXPECT_EQ(linked, source);
    EXPECT_EQ(index, 0u);

    // Connecting output 0 again moves the link: the first transform has no input any more.
    ASSERT_EQ(source->ConnectOutput(0, second.Get(), 0), S_OK);
    EXPECT_EQ(first->GetInput(0, &linked, &index), MF_E_NOT_FOUND);
    ASSERT_EQ(source->GetOutput(0, &linked, &index), S_OK);
    EXPECT_EQ(linked, second);
    EXPECT_EQ(source->GetOutput(1, &linked, &index), E_INVALIDARG);

    EXPECT_EQ(output->ConnectOutput(0, first.Get(), 0), E_INVALIDARG);
    EXPECT_EQ(first->ConnectOutput(0, source.Get(), 0), E_INVALIDARG);
    EXPECT_EQ(first->ConnectOutput(0, nullptr, 0), E_POINTER);
    ASSERT_EQ(second->ConnectOutput(0, output.Get(), 0), S_OK);
    EXPECT_EQ(second->DisconnectOutput(0), S_OK);
    EXPECT_EQ(second->DisconnectOutput(0), MF_E_NOT_FOUND);

    ComPtr<IUnknown> object;
    EXPECT_EQ(output->GetObject(&object), E_FAIL);
    ASSERT_EQ(output->SetObject(first.Get()), S_OK);
    ASSERT_EQ(output->GetObject(&object), S_OK);
    EXPECT_EQ(object.Get(), static_cast<IUnknown*>(first.Get()));
}

TEST(SessionTopologyTest, ANodeThatGoesAwayLeavesNoLinkBehind) {
    const auto output = Node(MF_TOPOLOGY_OUTPUT_NODE);
    {
        const auto transform = Node(MF_TOPOLOGY_TRANSFORM_NODE);
        ASSERT_EQ(transform->ConnectOutput(0, output.Get(), 0), S_OK);
    }
    ComPtr<IMFTopologyNode> linked;
    DWORD index = 0;
    EXPECT_EQ(output->GetInput(0, &linked, &index), MF_E_NOT_FOUND);
}

TEST(SessionTopologyTest, ATopologyHoldsEachNodeOnce) {
    ComPtr<IMFTopology> topology;
    ASSERT_EQ(MFCreateTopology(&topology), S_OK);
    const auto node = Node(MF_TOPOLOGY_OUTPUT_NODE);
    ASSERT_EQ(topology->AddNode(node.Get()), S_OK);
    EXPECT_EQ(topology->AddNode(node.Get()), E_INVALIDARG);
    TOPOID id = 0;
    ASSERT_EQ(node->GetTopoNodeID(&id), S_OK);
    ComPtr<IMFTopologyNode> found;
    ASSERT_EQ(topology->GetNodeByID(id, &found), S_OK);
    EXPECT_EQ(found, node);
    EXPECT_EQ(topology->GetNode(1, &found), MF_E_INVALIDINDEX);
    EXPECT_EQ(topology->RemoveNode(node.Get()), S_OK);
    EXPECT_EQ(topology->RemoveNode(node.Get()), E_INVALIDARG);
    WORD count = 9;
    ASSERT_EQ(topology->GetNodeCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
}

// Enough of a source for a topology check: SetTopology reads the topology before anything runs.
class IdleSource final : public ComObject<IMFMediaSource> {
public:
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD, IMFMediaEvent**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback*, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult*, IMFMediaEvent**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType, REFGUID, HRESULT, const PROPVARIANT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreatePresentationDescriptor(IMFPresentationDescriptor**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor*, const GUID*, const PROPVARIANT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Shutdown() override { return E_NOTIMPL; }
};

class SessionTopologyCheckTest : public ::testing::Test {
protected:
    SessionTopologyCheckTest() {
        MFCreateMediaSession(nullptr, &m_session);
        MFCreateTopology(&m_topology);
        ComPtr<IMFMediaType> type = MajorType(MFMediaType_Video, MFVideoFormat_NV12);
        MFCreateStreamDescriptor(0, 1, type.GetAddressOf(), &m_stream);
        MFCreatePresentationDescriptor(1, m_stream.GetAddressOf(), &m_presentation);
        m_sourceNode = Node(MF_TOPOLOGY_SOURCESTREAM_NODE);
        m_topology->AddNode(m_sourceNode.Get());
    }
    ~SessionTopologyCheckTest() override { m_session->Shutdown(); }

    void DescribeSource() {
        m_sourceNode->SetUnknown(MF_TOPONODE_SOURCE, static_cast<IMFMediaSource*>(m_source.Get()));
        m_sourceNode->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, m_presentation.Get());
        m_sourceNode->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, m_stream.Get());
    }

    PlatformStarted m_platform;
    ComPtr<IMFMediaSession> m_session;
    ComPtr<IMFTopology> m_topology;
    ComPtr<IMFStreamDescriptor> m_stream;
    ComPtr<IMFPresentationDescriptor> m_presentation;
    ComPtr<IMFTopologyNode> m_sourceNode;
    ComPtr<IdleSource> m_source = MakeComObject<IdleSource>();
};

TEST_F(SessionTopologyCheckTest, ASourceNodeNeedsItsSourceAndDescriptors) {
    EXPECT_EQ(m_session->SetTopology(0, nullptr), E_POINTER);
    EXPECT_EQ(m_session->SetTopology(1, m_topology.Get()), E_INVALIDARG);
    EXPECT_EQ(m_session->SetTopology(0, m_topology.Get()), MF_E_TOPO_MISSING_SOURCE);
    m_sourceNode->SetUnknown(MF_TOPONODE_SOURCE, static_cast<IMFMediaSource*>(m_source.Get()));
    EXPECT_EQ(m_session->SetTopology(0, m_topology.Get()), MF_E_TOPO_MISSING_PRESENTATION_DESCRIPTOR);
    m_sourceNode->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, m_presentation.Get());
    EXPECT_EQ(m_session->SetTopology(0, m_topology.Get()), MF_E_TOPO_MISSING_STREAM_DESCRIPTOR);
}

TEST_F(SessionTopologyCheckTest, ABranchMustEndInAStreamSinkWithoutTeesOnTheWay) {
    DescribeSource();
    // No output at all.
    EXPECT_EQ(m_session->SetTopology(0, m_topology.Get()), MF_E_TOPO_UNSUPPORTED);
    const auto tee = Node(MF_TOPOLOGY_TEE_NODE);
    m_sourceNode->ConnectOutput(0, tee.Get(), 0);
    m_topology->AddNode(tee.Get());
    EXPECT_EQ(m_session->SetTopology(0, m_topology.Get()), MF_E_TOPO_UNSUPPORTED);
    // An output node whose object is no stream sink.
    const auto output = Node(MF_TOPOLOGY_OUTPUT_NODE);
    output->SetObject(m_presentation.Get());
    m_sourceNode->ConnectOutput(0, output.Get(), 0);
    m_topology->AddNode(output.Get());
    EXPECT_EQ(m_session->SetTopology(0, m_topology.Get()), MF_E_TOPO_UNSUPPORTED);
}

} // namespace
