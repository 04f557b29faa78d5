#pragma once
// What fills an audio client's capture buffer: the sound server's monitor of the default output, or silence
// at real-time pace while no output is reachable.

class LoopbackSource {
public:
    virtual ~LoopbackSource() = default;

    // False when the device is gone.
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    // Called by the reader before it looks at the buffer: sources that follow a clock write what is due.
    virtual void Produce() {}
    // True once the client must report AUDCLNT_E_DEVICE_INVALIDATED.
    virtual bool IsInvalidated() const = 0;
};
