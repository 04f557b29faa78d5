#include "SessionTopology.h"

#include <mferror.h>
#include <wrl/implements.h>

#include <algorithm>

namespace {

HRESULT ReadSourceNode(IMFTopologyNode* node, BranchPlan& plan) {
    if (FAILED(node->GetUnknown(MF_TOPONODE_SOURCE, IID_PPV_ARGS(&plan.source))))
        return MF_E_TOPO_MISSING_SOURCE;
    if (FAILED(node->GetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, IID_PPV_ARGS(&plan.presentation))))
        return MF_E_TOPO_MISSING_PRESENTATION_DESCRIPTOR;
    ComPtr<IMFStreamDescriptor> stream;
    if (FAILED(node->GetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, IID_PPV_ARGS(&stream))))
        return MF_E_TOPO_MISSING_STREAM_DESCRIPTOR;
    return stream->GetStreamIdentifier(&plan.streamId);
}

template <class Interface>
HRESULT NodeObject(IMFTopologyNode* node, ComPtr<Interface>& object) {
    ComPtr<IUnknown> unknown;
    if (FAILED(node->GetObject(&unknown)) || FAILED(unknown->QueryInterface(IID_PPV_ARGS(&object))))
        return MF_E_TOPO_UNSUPPORTED;
    return S_OK;
}

// Follows output 0 from the source node down to the output node.
HRESULT FollowBranch(IMFTopologyNode* sourceNode, WORD nodeCount, BranchPlan& plan) {
    ComPtr<IMFTopologyNode> node(sourceNode);
    // A longer walk than there are nodes goes round in a loop.
    for (WORD step = 0; step < nodeCount; ++step) {
        ComPtr<IMFTopologyNode> next;
        DWORD input = 0;
        if (FAILED(node->GetOutput(0, &next, &input)))
            return MF_E_TOPO_UNSUPPORTED;
        MF_TOPOLOGY_TYPE type{};
        HRESULT hr = next->GetNodeType(&type);
        if (FAILED(hr))
            return hr;
        if (type == MF_TOPOLOGY_OUTPUT_NODE)
            return NodeObject(next.Get(), plan.sink);
        if (type != MF_TOPOLOGY_TRANSFORM_NODE)
            return MF_E_TOPO_UNSUPPORTED;
        ComPtr<IMFTransform> transform;
        hr = NodeObject(next.Get(), transform);
        if (FAILED(hr))
            return hr;
        plan.transforms.push_back(std::move(transform));
        node = std::move(next);
    }
    return MF_E_TOPO_UNSUPPORTED;
}

bool SharesTransforms(const std::vector<BranchPlan>& branches) {
    std::vector<IMFTransform*> seen;
    for (const BranchPlan& branch : branches)
        for (const auto& transform : branch.transforms) {
            if (std::find(seen.begin(), seen.end(), transform.Get()) != seen.end())
                return true;
            seen.push_back(transform.Get());
        }
    return false;
}

} // namespace

bool IsSameObject(IUnknown* a, IUnknown* b) {
    ComPtr<IUnknown> first;
    ComPtr<IUnknown> second;
    return SUCCEEDED(a->QueryInterface(IID_PPV_ARGS(&first))) &&
           SUCCEEDED(b->QueryInterface(IID_PPV_ARGS(&second))) && first == second;
}

HRESULT PlanBranches(IMFTopology* topology, std::vector<BranchPlan>& branches) {
    if (topology == nullptr)
        return E_POINTER;
    return NoThrow([&] {
        WORD count = 0;
        HRESULT hr = topology->GetNodeCount(&count);
        if (FAILED(hr))
            return hr;
        std::vector<BranchPlan> planned;
        for (WORD i = 0; i < count; ++i) {
            ComPtr<IMFTopologyNode> node;
            MF_TOPOLOGY_TYPE type{};
            hr = topology->GetNode(i, &node);
            if (SUCCEEDED(hr))
                hr = node->GetNodeType(&type);
            if (FAILED(hr))
                return hr;
            if (type != MF_TOPOLOGY_SOURCESTREAM_NODE)
                continue;
            BranchPlan plan;
            hr = ReadSourceNode(node.Get(), plan);
            if (SUCCEEDED(hr))
                hr = FollowBranch(node.Get(), count, plan);
            if (FAILED(hr))
                return hr;
            planned.push_back(std::move(plan));
        }
        if (planned.empty())
            return MF_E_TOPO_MISSING_SOURCE;
        if (SharesTransforms(planned))
            return MF_E_TOPO_UNSUPPORTED;
        branches = std::move(planned);
        return S_OK;
    });
}
