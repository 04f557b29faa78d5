#pragma once
// Helpers of the transform tests: types, samples, driving a synchronous transform, test pictures with an
// independent BT.601 reference, and a libavcodec decoder for the encoders' output.

#include <d3d11.h>
#include <mfapi.h>
#include <mfobjects.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <cstdint>
#include <memory>
#include <vector>

ComPtr<IMFMediaType> MakeVideoType(REFGUID subtype, UINT32 width, UINT32 height, UINT32 fps = 60);
ComPtr<IMFMediaType> MakeAudioType(REFGUID subtype, UINT32 bits, UINT32 rate, UINT32 channels);

ComPtr<IMFSample> MakeSample(const void* data, std::size_t size, LONGLONG time = 0, LONGLONG duration = 0);
// The valid bytes of a sample's first buffer, through Lock2D when the buffer is two-dimensional (rows
// packed).
std::vector<std::uint8_t> BytesOf(IMFSample* sample, UINT32 rowBytes = 0, UINT32 rows = 0);

// ProcessInput, then every output until the transform wants input.
HRESULT Feed(IMFTransform* transform, IMFSample* sample, std::vector<ComPtr<IMFSample>>& outputs);
// Drain and collect the rest.
HRESULT DrainAll(IMFTransform* transform, std::vector<ComPtr<IMFSample>>& outputs);

LONGLONG TimeOf(IMFSample* sample);
bool IsCleanPoint(IMFSample* sample);

// BGRA pixels that change with the frame number: gradients plus a moving block.
std::vector<std::uint8_t> BgraPicture(int width, int height, int frame);

struct Yuv420 {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> y, u, v;
};
// BT.601 limited range, chroma from the average of each 2x2 block.
Yuv420 ReferenceYuv(const std::vector<std::uint8_t>& bgra, int width, int height);
Yuv420 FromNv12(const std::vector<std::uint8_t>& nv12, int width, int height, int pitch);
double Psnr(const Yuv420& a, const Yuv420& b);
// Largest absolute difference over all three planes.
int MaxDifference(const Yuv420& a, const Yuv420& b);

// The events a generator has queued, taken without waiting.
std::vector<MediaEventType> QueuedEventTypes(IMFMediaEventGenerator* generator);

// A BGRA texture the capture could hand over: a render target that shaders may read.
D3D11_TEXTURE2D_DESC CapturedTextureDesc(UINT width, UINT height);

// The NAL unit types of an Annex B buffer (H.264: 5 bits, HEVC: 6 bits).
std::vector<int> NalTypes(const std::vector<std::uint8_t>& annexB, bool hevc);

// Decodes H.264, HEVC, AAC or FLAC with libavcodec.
class TestDecoder {
public:
    enum class Codec { H264, Hevc, Aac, Flac };
    TestDecoder(Codec codec, const std::vector<std::uint8_t>& extradata = {});
    ~TestDecoder();

    // Pictures (video) as planes; audio as interleaved float samples appended to Audio().
    void Decode(const std::vector<std::uint8_t>& packet);
    void Flush();
    const std::vector<Yuv420>& Pictures() const { return m_pictures; }
    const std::vector<float>& Audio() const { return m_audio; }
    int Channels() const { return m_channels; }

private:
    void Receive();
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::vector<Yuv420> m_pictures;
    std::vector<float> m_audio;
    int m_channels = 0;
};

// The frequency of a tone in a mono signal, from the distance of its rising zero crossings.
double ToneFrequency(const std::vector<float>& samples, int rate);

// The amplitude of the `hz` component of a mono signal's samples [begin, begin + count), so that several
// tones played at once can be told apart: 0.3 for a sine of amplitude 0.3 at that frequency.
double ToneLevel(const std::vector<float>& samples, std::size_t begin, std::size_t count, double hz,
                 int rate);
