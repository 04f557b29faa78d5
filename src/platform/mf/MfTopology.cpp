#include "AttributesBase.h"
#include <mferror.h>
#include <mfidl.h>
#include <wrl/implements.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace {

std::atomic<TOPOID> g_nextTopologyId{1};

class MfTopology final : public AttributesBase<IMFTopology> {
public:
    HRESULT STDMETHODCALLTYPE GetTopologyID(TOPOID* pID) override {
        if (pID == nullptr)
            return E_POINTER;
        *pID = m_id;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE AddNode(IMFTopologyNode* pNode) override {
        if (pNode == nullptr)
            return E_POINTER;
        TOPOID id = 0;
        HRESULT hr = pNode->GetTopoNodeID(&id);
        if (FAILED(hr))
            return hr;
        return NoThrow([&] {
            std::lock_guard lock(m_mutex);
            // A node, or another with its identifier, is in a topology at most once.
            for (const auto& node : m_nodes) {
                TOPOID other = 0;
                if (node.Get() == pNode || (SUCCEEDED(node->GetTopoNodeID(&other)) && other == id))
                    return E_INVALIDARG;
            }
            m_nodes.emplace_back(pNode);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE RemoveNode(IMFTopologyNode* pNode) override {
        if (pNode == nullptr)
            return E_POINTER;
        ComPtr<IMFTopologyNode> removed;
        std::lock_guard lock(m_mutex);
        const auto found =
            std::find_if(m_nodes.begin(), m_nodes.end(),
                         [&](const ComPtr<IMFTopologyNode>& node) { return node.Get() == pNode; });
        if (found == m_nodes.end())
            return E_INVALIDARG;
        removed = std::move(*found);
        m_nodes.erase(found);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNodeCount(WORD* pwNodes) override {
        if (pwNodes == nullptr)
            return E_POINTER;
        std::lock_guard lock(m_mutex);
        *pwNodes = static_cast<WORD>(m_nodes.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNode(WORD wIndex, IMFTopologyNode** ppNode) override {
        if (ppNode == nullptr)
            return E_POINTER;
        *ppNode = nullptr;
        std::lock_guard lock(m_mutex);
        if (wIndex >= m_nodes.size())
            return MF_E_INVALIDINDEX;
        return m_nodes[wIndex].CopyTo(ppNode);
    }

    HRESULT STDMETHODCALLTYPE Clear() override {
        std::vector<ComPtr<IMFTopologyNode>> removed;
        std::lock_guard lock(m_mutex);
        removed.swap(m_nodes);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNodeByID(TOPOID qwTopoNodeID, IMFTopologyNode** ppNode) override {
        if (ppNode == nullptr)
            return E_POINTER;
        *ppNode = nullptr;
        std::lock_guard lock(m_mutex);
        for (const auto& node : m_nodes) {
            TOPOID id = 0;
            if (SUCCEEDED(node->GetTopoNodeID(&id)) && id == qwTopoNodeID)
                return node.CopyTo(ppNode);
        }
        return MF_E_NOT_FOUND;
    }

private:
    const TOPOID m_id = g_nextTopologyId++;
    std::mutex m_mutex;
    std::vector<ComPtr<IMFTopologyNode>> m_nodes;
};

} // namespace

HRESULT MFCreateTopology(IMFTopology** ppTopo) { return CreateObject<MfTopology>(ppTopo); }
