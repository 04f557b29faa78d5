#include "TopologyBranch.h"

#include "Util/HResultCheck.h"
#include <wrl/client.h>

void AddTopologyBranch(IMFTopology* topology, IMFMediaSource* source, DWORD streamIndex,
                       const std::vector<IMFTransform*>& transforms, IMFStreamSink* sink) {
    std::vector<ComPtr<IMFTopologyNode>> nodes;
    ComPtr<IMFPresentationDescriptor> presentation;
    THROW_IF_FAILED(source->CreatePresentationDescriptor(&presentation));
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> stream;
    THROW_IF_FAILED(presentation->GetStreamDescriptorByIndex(streamIndex, &selected, &stream));

    ComPtr<IMFTopologyNode> node;
    THROW_IF_FAILED(MFCreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, &node));
    THROW_IF_FAILED(node->SetUnknown(MF_TOPONODE_SOURCE, source));
    THROW_IF_FAILED(node->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, presentation.Get()));
    THROW_IF_FAILED(node->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, stream.Get()));
    nodes.push_back(node);

    for (IMFTransform* transform : transforms) {
        ComPtr<IMFTopologyNode> transformNode;
        THROW_IF_FAILED(MFCreateTopologyNode(MF_TOPOLOGY_TRANSFORM_NODE, &transformNode));
        THROW_IF_FAILED(transformNode->SetObject(transform));
        nodes.push_back(transformNode);
    }

    ComPtr<IMFTopologyNode> output;
    THROW_IF_FAILED(MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &output));
    THROW_IF_FAILED(output->SetObject(sink));
    nodes.push_back(output);

    for (std::size_t i = 0; i + 1 < nodes.size(); ++i)
        ThrowIfFailed(nodes[i]->ConnectOutput(0, nodes[i + 1].Get(), 0),
                      "m_nodes[i]->ConnectOutput( 0, m_nodes[i + 1].Get(), 0 )");
    for (const ComPtr<IMFTopologyNode>& node : nodes)
        ThrowIfFailed(topology->AddNode(node.Get()), "topology->AddNode( node.Get() )");
}
