#pragma once
// Topologies: nodes (source stream, transform, output) connected output to input, which a media session runs.

#include "Attributes.h"

using TOPOID = UINT64;

enum MF_TOPOLOGY_TYPE : DWORD {
    MF_TOPOLOGY_OUTPUT_NODE = 0,
    MF_TOPOLOGY_SOURCESTREAM_NODE = 1,
    MF_TOPOLOGY_TRANSFORM_NODE = 2,
    MF_TOPOLOGY_TEE_NODE = 3,
};

struct IMFTopologyNode : IMFAttributes {
    // The transform of a transform node, the stream sink of an output node.
    virtual HRESULT STDMETHODCALLTYPE SetObject(IUnknown* pObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetObject(IUnknown** ppObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNodeType(MF_TOPOLOGY_TYPE* pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTopoNodeID(TOPOID* pID) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTopoNodeID(TOPOID ullTopoID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* pcInputs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputCount(DWORD* pcOutputs) = 0;
    // Replaces whatever was connected to either end before.
    virtual HRESULT STDMETHODCALLTYPE ConnectOutput(DWORD dwOutputIndex, IMFTopologyNode* pDownstreamNode,
                                                    DWORD dwInputIndexOnDownstreamNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisconnectOutput(DWORD dwOutputIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInput(DWORD dwInputIndex, IMFTopologyNode** ppUpstreamNode,
                                               DWORD* pdwOutputIndexOnUpstreamNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutput(DWORD dwOutputIndex, IMFTopologyNode** ppDownstreamNode,
                                                DWORD* pdwInputIndexOnDownstreamNode) = 0;

protected:
    ~IMFTopologyNode() = default;
};

PYX_INTERFACE_ID(IMFTopologyNode, IMFAttributes, "83cf873a-f6da-4bc8-823f-bacfd55dc430");

struct IMFTopology : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetTopologyID(TOPOID* pID) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddNode(IMFTopologyNode* pNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveNode(IMFTopologyNode* pNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNodeCount(WORD* pwNodes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNode(WORD wIndex, IMFTopologyNode** ppNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNodeByID(TOPOID qwTopoNodeID, IMFTopologyNode** ppNode) = 0;

protected:
    ~IMFTopology() = default;
};

PYX_INTERFACE_ID(IMFTopology, IMFAttributes, "83cf873a-f6da-4bc8-823f-bacfd55dc433");

HRESULT MFCreateTopology(IMFTopology** ppTopo);
HRESULT MFCreateTopologyNode(MF_TOPOLOGY_TYPE NodeType, IMFTopologyNode** ppNode);

// Source-stream node attributes: the source (IUnknown), its presentation descriptor and the stream's
// descriptor (both IUnknown).
DEFINE_GUID(MF_TOPONODE_SOURCE, 0x835c58ec, 0xe075, 0x4bc7, 0xbc, 0xba, 0x4d, 0xe0, 0x00, 0xdf, 0x9a, 0xe6);
DEFINE_GUID(MF_TOPONODE_PRESENTATION_DESCRIPTOR, 0x835c58ed, 0xe075, 0x4bc7, 0xbc, 0xba, 0x4d, 0xe0, 0x00,
            0xdf, 0x9a, 0xe6);
DEFINE_GUID(MF_TOPONODE_STREAM_DESCRIPTOR, 0x835c58ee, 0xe075, 0x4bc7, 0xbc, 0xba, 0x4d, 0xe0, 0x00, 0xdf,
            0x9a, 0xe6);
