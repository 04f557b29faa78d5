#include "MfTopologyNode.h"

#include <mferror.h>

#include <atomic>
#include <mutex>

namespace {

// One lock for every link between nodes, so both ends of a link change together.
std::mutex g_linkMutex;
std::atomic<TOPOID> g_nextId{1};

} // namespace

MfTopologyNode::MfTopologyNode(MF_TOPOLOGY_TYPE type) : m_type(type), m_id(g_nextId++) {}

MfTopologyNode::~MfTopologyNode() {
    // Declared before the lock: released nodes go after it is dropped, as their destructors take it too.
    std::vector<ComPtr<MfTopologyNode>> released;
    std::lock_guard lock(g_linkMutex);
    // Only downstream nodes can still be linked: an upstream node would hold a reference on this one.
    for (DWORD i = 0; i < m_outputs.size(); ++i)
        DisconnectOutputLocked(i, released);
}

void MfTopologyNode::DisconnectOutputLocked(DWORD index, std::vector<ComPtr<MfTopologyNode>>& released) {
    if (index >= m_outputs.size() || !m_outputs[index].node)
        return;
    Output& output = m_outputs[index];
    output.node->m_inputs[output.input] = Input{};
    released.push_back(std::move(output.node));
    output = Output{};
}

void MfTopologyNode::DisconnectInputLocked(DWORD index, std::vector<ComPtr<MfTopologyNode>>& released) {
    if (index < m_inputs.size() && m_inputs[index].node != nullptr)
        m_inputs[index].node->DisconnectOutputLocked(m_inputs[index].output, released);
}

HRESULT MfTopologyNode::SetObject(IUnknown* pObject) {
    ComPtr<IUnknown> replaced(pObject);
    std::lock_guard lock(g_linkMutex);
    m_object.Swap(replaced);
    return S_OK;
}

HRESULT MfTopologyNode::GetObject(IUnknown** ppObject) {
    if (ppObject == nullptr)
        return E_POINTER;
    *ppObject = nullptr;
    std::lock_guard lock(g_linkMutex);
    return m_object ? m_object.CopyTo(ppObject) : E_FAIL;
}

HRESULT MfTopologyNode::GetNodeType(MF_TOPOLOGY_TYPE* pType) {
    if (pType == nullptr)
        return E_POINTER;
    *pType = m_type;
    return S_OK;
}

HRESULT MfTopologyNode::GetTopoNodeID(TOPOID* pID) {
    if (pID == nullptr)
        return E_POINTER;
    std::lock_guard lock(g_linkMutex);
    *pID = m_id;
    return S_OK;
}

HRESULT MfTopologyNode::SetTopoNodeID(TOPOID ullTopoID) {
    std::lock_guard lock(g_linkMutex);
    m_id = ullTopoID;
    return S_OK;
}

HRESULT MfTopologyNode::GetInputCount(DWORD* pcInputs) {
    if (pcInputs == nullptr)
        return E_POINTER;
    std::lock_guard lock(g_linkMutex);
    *pcInputs = static_cast<DWORD>(m_inputs.size());
    return S_OK;
}

HRESULT MfTopologyNode::GetOutputCount(DWORD* pcOutputs) {
    if (pcOutputs == nullptr)
        return E_POINTER;
    std::lock_guard lock(g_linkMutex);
    *pcOutputs = static_cast<DWORD>(m_outputs.size());
    return S_OK;
}

HRESULT MfTopologyNode::ConnectOutput(DWORD dwOutputIndex, IMFTopologyNode* pDownstreamNode,
                                      DWORD dwInputIndexOnDownstreamNode) {
    if (pDownstreamNode == nullptr)
        return E_POINTER;
    MfTopologyNode* downstream = From(pDownstreamNode);
    if (downstream == nullptr)
        return E_NOINTERFACE;
    // Output nodes end a branch and source nodes begin one.
    if (m_type == MF_TOPOLOGY_OUTPUT_NODE || downstream->m_type == MF_TOPOLOGY_SOURCESTREAM_NODE ||
        downstream == this)
        return E_INVALIDARG;
    return NoThrow([&] {
        std::vector<ComPtr<MfTopologyNode>> released;
        std::lock_guard lock(g_linkMutex);
        DisconnectOutputLocked(dwOutputIndex, released);
        downstream->DisconnectInputLocked(dwInputIndexOnDownstreamNode, released);
        if (m_outputs.size() <= dwOutputIndex)
            m_outputs.resize(dwOutputIndex + 1);
        if (downstream->m_inputs.size() <= dwInputIndexOnDownstreamNode)
            downstream->m_inputs.resize(dwInputIndexOnDownstreamNode + 1);
        m_outputs[dwOutputIndex] = Output{downstream, dwInputIndexOnDownstreamNode};
        downstream->m_inputs[dwInputIndexOnDownstreamNode] = Input{this, dwOutputIndex};
        return S_OK;
    });
}

HRESULT MfTopologyNode::DisconnectOutput(DWORD dwOutputIndex) {
    std::vector<ComPtr<MfTopologyNode>> released;
    std::lock_guard lock(g_linkMutex);
    if (dwOutputIndex >= m_outputs.size() || !m_outputs[dwOutputIndex].node)
        return MF_E_NOT_FOUND;
    DisconnectOutputLocked(dwOutputIndex, released);
    return S_OK;
}

HRESULT MfTopologyNode::GetInput(DWORD dwInputIndex, IMFTopologyNode** ppUpstreamNode,
                                 DWORD* pdwOutputIndexOnUpstreamNode) {
    if (ppUpstreamNode == nullptr || pdwOutputIndexOnUpstreamNode == nullptr) {
        if (ppUpstreamNode != nullptr)
            *ppUpstreamNode = nullptr;
        return E_POINTER;
    }
    *ppUpstreamNode = nullptr;
    std::lock_guard lock(g_linkMutex);
    if (dwInputIndex >= m_inputs.size())
        return E_INVALIDARG;
    if (m_inputs[dwInputIndex].node == nullptr)
        return MF_E_NOT_FOUND;
    *ppUpstreamNode = m_inputs[dwInputIndex].node;
    (*ppUpstreamNode)->AddRef();
    *pdwOutputIndexOnUpstreamNode = m_inputs[dwInputIndex].output;
    return S_OK;
}

HRESULT MfTopologyNode::GetOutput(DWORD dwOutputIndex, IMFTopologyNode** ppDownstreamNode,
                                  DWORD* pdwInputIndexOnDownstreamNode) {
    if (ppDownstreamNode == nullptr || pdwInputIndexOnDownstreamNode == nullptr) {
        if (ppDownstreamNode != nullptr)
            *ppDownstreamNode = nullptr;
        return E_POINTER;
    }
    *ppDownstreamNode = nullptr;
    std::lock_guard lock(g_linkMutex);
    if (dwOutputIndex >= m_outputs.size())
        return E_INVALIDARG;
    if (!m_outputs[dwOutputIndex].node)
        return MF_E_NOT_FOUND;
    *ppDownstreamNode = ComPtr<IMFTopologyNode>(m_outputs[dwOutputIndex].node).Detach();
    *pdwInputIndexOnDownstreamNode = m_outputs[dwOutputIndex].input;
    return S_OK;
}

HRESULT MFCreateTopologyNode(MF_TOPOLOGY_TYPE NodeType, IMFTopologyNode** ppNode) {
    if (NodeType > MF_TOPOLOGY_TEE_NODE) {
        if (ppNode != nullptr)
            *ppNode = nullptr;
        return E_INVALIDARG;
    }
    return CreateObject<MfTopologyNode>(ppNode, NodeType);
}
