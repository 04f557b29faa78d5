#pragma once
// Frames, textures and encoder pictures are buffers of megabytes that live as long as one capture. Allocating
// them straight from the system (not from the heap) gives their memory back when a capture ends, so that a
// recording that restarts its capture at every window change keeps a steady footprint.

// Idempotent and thread-safe; called where such buffers start to be made (device creation, MFStartup).
void ReturnLargeBuffersToSystem();
