#pragma once
// A topology node. A node holds a counted reference on each node downstream of it and a plain pointer to each
// upstream one; a node that goes away disconnects itself from both sides, so no link ever dangles.

#include "AttributesBase.h"
#include <mfidl.h>

#include <vector>

class MfTopologyNode final : public AttributesBase<IMFTopologyNode> {
public:
    explicit MfTopologyNode(MF_TOPOLOGY_TYPE type);
    ~MfTopologyNode() override;

    // The node behind an interface pointer, or null for a foreign implementation.
    static MfTopologyNode* From(IMFTopologyNode* node) { return dynamic_cast<MfTopologyNode*>(node); }

    HRESULT STDMETHODCALLTYPE SetObject(IUnknown* pObject) override;
    HRESULT STDMETHODCALLTYPE GetObject(IUnknown** ppObject) override;
    HRESULT STDMETHODCALLTYPE GetNodeType(MF_TOPOLOGY_TYPE* pType) override;
    HRESULT STDMETHODCALLTYPE GetTopoNodeID(TOPOID* pID) override;
    HRESULT STDMETHODCALLTYPE SetTopoNodeID(TOPOID ullTopoID) override;
    HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* pcInputs) override;
    HRESULT STDMETHODCALLTYPE GetOutputCount(DWORD* pcOutputs) override;
    HRESULT STDMETHODCALLTYPE ConnectOutput(DWORD dwOutputIndex, IMFTopologyNode* pDownstreamNode,
                                            DWORD dwInputIndexOnDownstreamNode) override;
    HRESULT STDMETHODCALLTYPE DisconnectOutput(DWORD dwOutputIndex) override;
    HRESULT STDMETHODCALLTYPE GetInput(DWORD dwInputIndex, IMFTopologyNode** ppUpstreamNode,
                                       DWORD* pdwOutputIndexOnUpstreamNode) override;
    HRESULT STDMETHODCALLTYPE GetOutput(DWORD dwOutputIndex, IMFTopologyNode** ppDownstreamNode,
                                        DWORD* pdwInputIndexOnDownstreamNode) override;

private:
    struct Output {
        ComPtr<MfTopologyNode> node;
        DWORD input = 0;
    };
    struct Input {
        MfTopologyNode* node = nullptr;
        DWORD output = 0;
    };

    // Called with the link lock held.
    void DisconnectOutputLocked(DWORD index, std::vector<ComPtr<MfTopologyNode>>& released);
    void DisconnectInputLocked(DWORD index, std::vector<ComPtr<MfTopologyNode>>& released);

    const MF_TOPOLOGY_TYPE m_type;
    TOPOID m_id;
    ComPtr<IUnknown> m_object;
    std::vector<Output> m_outputs;
    std::vector<Input> m_inputs;
};
