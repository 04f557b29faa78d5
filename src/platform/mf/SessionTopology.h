#pragma once
// Reads a topology into the straight branches a media session runs: source stream → transforms → stream sink.

#include <mfidl.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <vector>

struct BranchPlan {
    ComPtr<IMFMediaSource> source;
    ComPtr<IMFPresentationDescriptor> presentation;
    DWORD streamId = 0;
    std::vector<ComPtr<IMFTransform>> transforms;
    ComPtr<IMFStreamSink> sink;
};

// One branch per source-stream node. Tee nodes, nodes without their object, transforms shared between
// branches and branches that do not end in a stream sink give MF_E_TOPO_UNSUPPORTED; source nodes without
// their attributes give the matching MF_E_TOPO_MISSING_* code.
HRESULT PlanBranches(IMFTopology* topology, std::vector<BranchPlan>& branches);

// COM identity: both answer the same IUnknown.
bool IsSameObject(IUnknown* a, IUnknown* b);
