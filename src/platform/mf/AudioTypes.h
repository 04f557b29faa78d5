#pragma once
// Reading and building uncompressed audio types (16-bit PCM, 32-bit float) for the audio transforms.

#include "SampleData.h"
#include "platform/av/AudioResampler.h"
#include <mfobjects.h>
#include <wrl/client.h>

// MF_E_INVALIDMEDIATYPE unless the type is 16-bit PCM or 32-bit float audio with 1 to 8 channels at a rate up
// to 384 kHz, its block alignment (when given) matching.
HRESULT PcmFormatFromType(IMFMediaType* type, av::PcmFormat& format);
// A complete type for the format: subtype, bits, rate, channels, block alignment, bytes per second and
// MF_MT_ALL_SAMPLES_INDEPENDENT.
HRESULT MakePcmType(const av::PcmFormat& format, ComPtr<IMFMediaType>& type);

// Locks the sample's bytes as whole frames of the format; E_INVALIDARG for a partial frame.
HRESULT LockPcm(IMFSample* sample, const av::PcmFormat& format, SampleBytes& bytes, int& frames);
