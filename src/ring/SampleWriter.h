#pragma once
// Where replayed packets go: one call per sample and stream kind.

#include <mfobjects.h>

class SampleWriter {
public:
    virtual ~SampleWriter() = default;
    virtual void WriteVideo(IMFSample* sample) = 0;
    virtual void WriteAudio(IMFSample* sample) = 0;
};
