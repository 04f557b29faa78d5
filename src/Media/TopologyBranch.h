#pragma once
// One branch of the capture topology: the source-stream node of a stream, the branch's transforms in order
// and the output node of its stream sink, connected output 0 to input 0 and added to the topology.

#include <mfidl.h>
#include <mftransform.h>

#include <vector>

// Throws ComException naming the failed step.
void AddTopologyBranch(IMFTopology* topology, IMFMediaSource* source, DWORD streamIndex,
                       const std::vector<IMFTransform*>& transforms, IMFStreamSink* sink);
