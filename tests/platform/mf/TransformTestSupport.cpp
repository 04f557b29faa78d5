#include "TransformTestSupport.h"

#include <mfidl.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

ComPtr<IMFMediaType> MakeVideoType(REFGUID subtype, UINT32 width, UINT32 height, UINT32 fps) {
    ComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
    MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, fps, 1);
    MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    return type;
}

ComPtr<IMFMediaType> MakeAudioType(REFGUID subtype, UINT32 bits, UINT32 rate, UINT32 channels) {
    ComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, bits);
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, rate);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels);
    type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, bits / 8 * channels);
    type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, bits / 8 * channels * rate);
    return type;
}

ComPtr<IMFSample> MakeSample(const void* data, std::size_t size, LONGLONG time, LONGLONG duration) {
    ComPtr<IMFSample> sample;
    ComPtr<IMFMediaBuffer> buffer;
    MFCreateSample(&sample);
    MFCreateMemoryBuffer(static_cast<DWORD>(size), &buffer);
    BYTE* target = nullptr;
    buffer->Lock(&target, nullptr, nullptr);
    if (size > 0)
        std::memcpy(target, data, size);
    buffer->Unlock();
    buffer->SetCurrentLength(static_cast<DWORD>(size));
    sample->AddBuffer(buffer.Get());
    sample->SetSampleTime(time);
    sample->SetSampleDuration(duration);
    return sample;
}

std::vector<std::uint8_t> BytesOf(IMFSample* sample, UINT32 rowBytes, UINT32 rows) {
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(sample->GetBufferByIndex(0, &buffer)))
        throw std::runtime_error("sample without a buffer");
    ComPtr<IMF2DBuffer> buffer2D;
    if (rowBytes != 0 && SUCCEEDED(buffer->QueryInterface(&buffer2D))) {
        BYTE* scanline = nullptr;
        LONG pitch = 0;
        buffer2D->Lock2D(&scanline, &pitch);
        std::vector<std::uint8_t> bytes;
        for (UINT32 row = 0; row < rows; ++row)
            bytes.insert(bytes.end(), scanline + std::size_t(row) * pitch,
                         scanline + std::size_t(row) * pitch + rowBytes);
        buffer2D->Unlock2D();
        return bytes;
    }
    BYTE* data = nullptr;
    DWORD length = 0;
    buffer->Lock(&data, nullptr, &length);
    std::vector<std::uint8_t> bytes(data, data + length);
    buffer->Unlock();
    return bytes;
}

namespace {

HRESULT Collect(IMFTransform* transform, std::vector<ComPtr<IMFSample>>& outputs) {
    for (;;) {
        MFT_OUTPUT_DATA_BUFFER buffer{0, nullptr, 0, nullptr};
        DWORD status = 0;
        const HRESULT hr = transform->ProcessOutput(0, 1, &buffer, &status);
        if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT)
            return S_OK;
        if (FAILED(hr))
            return hr;
        ComPtr<IMFSample> sample;
        sample.Attach(buffer.pSample);
        outputs.push_back(std::move(sample));
    }
}

} // namespace

HRESULT Feed(IMFTransform* transform, IMFSample* sample, std::vector<ComPtr<IMFSample>>& outputs) {
    const HRESULT hr = transform->ProcessInput(0, sample, 0);
    return FAILED(hr) ? hr : Collect(transform, outputs);
}

HRESULT DrainAll(IMFTransform* transform, std::vector<ComPtr<IMFSample>>& outputs) {
    const HRESULT hr = transform->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0);
    return FAILED(hr) ? hr : Collect(transform, outputs);
}

LONGLONG TimeOf(IMFSample* sample) {
    LONGLONG time = -1;
    sample->GetSampleTime(&time);
    return time;
}

bool IsCleanPoint(IMFSample* sample) {
    return MFGetAttributeUINT32(sample, MFSampleExtension_CleanPoint, 0) != 0;
}

std::vector<std::uint8_t> BgraPicture(int width, int height, int frame) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    const int block = std::max(2, height / 5);
    const int blockX = (frame * 7) % std::max(1, width - block);
    const int blockY = (frame * 3) % std::max(1, height - block);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            std::uint8_t* pixel = &pixels[(std::size_t(row) * width + column) * 4];
            const bool inBlock =
                column >= blockX && column < blockX + block && row >= blockY && row < blockY + block;
            pixel[0] = static_cast<std::uint8_t>(inBlock ? 40 : (column * 255 / width + frame * 3) % 256);
            pixel[1] = static_cast<std::uint8_t>(inBlock ? 220 : row * 255 / height);
            pixel[2] =
                static_cast<std::uint8_t>(inBlock ? 250 : ((column + row) * 128 / (width + height) + 64));
            pixel[3] = 255;
        }
    return pixels;
}

Yuv420 ReferenceYuv(const std::vector<std::uint8_t>& bgra, int width, int height) {
    Yuv420 yuv{width, height, {}, {}, {}};
    yuv.y.resize(std::size_t(width) * height);
    yuv.u.resize(std::size_t(width / 2) * (height / 2));
    yuv.v.resize(yuv.u.size());
    auto at = [&](int row, int column, int channel) {
        return double(bgra[(std::size_t(row) * width + column) * 4 + channel]);
    };
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            const double b = at(row, column, 0), g = at(row, column, 1), r = at(row, column, 2);
            yuv.y[std::size_t(row) * width + column] =
                static_cast<std::uint8_t>(std::lround(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255));
        }
    for (int row = 0; row < height / 2; ++row)
        for (int column = 0; column < width / 2; ++column) {
            double r = 0, g = 0, b = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    b += at(row * 2 + dy, column * 2 + dx, 0) / 4;
                    g += at(row * 2 + dy, column * 2 + dx, 1) / 4;
                    r += at(row * 2 + dy, column * 2 + dx, 2) / 4;
                }
            const std::size_t index = std::size_t(row) * (width / 2) + column;
            yuv.u[index] =
                static_cast<std::uint8_t>(std::lround(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255));
            yuv.v[index] =
                static_cast<std::uint8_t>(std::lround(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255));
        }
    return yuv;
}

Yuv420 FromNv12(const std::vector<std::uint8_t>& nv12, int width, int height, int pitch) {
    Yuv420 yuv{width, height, {}, {}, {}};
    for (int row = 0; row < height; ++row)
        yuv.y.insert(yuv.y.end(), nv12.begin() + std::size_t(row) * pitch,
                     nv12.begin() + std::size_t(row) * pitch + width);
    const std::size_t chroma = std::size_t(pitch) * height;
    for (int row = 0; row < height / 2; ++row)
        for (int column = 0; column < width / 2; ++column) {
            yuv.u.push_back(nv12[chroma + std::size_t(row) * pitch + column * 2]);
            yuv.v.push_back(nv12[chroma + std::size_t(row) * pitch + column * 2 + 1]);
        }
    return yuv;
}

double Psnr(const Yuv420& a, const Yuv420& b) {
    double error = 0;
    std::size_t count = 0;
    auto add = [&](const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y) {
        for (std::size_t i = 0; i < x.size() && i < y.size(); ++i)
            error += (double(x[i]) - y[i]) * (double(x[i]) - y[i]);
        count += x.size();
    };
    add(a.y, b.y);
    add(a.u, b.u);
    add(a.v, b.v);
    return error == 0 ? 100.0 : 10 * std::log10(255.0 * 255.0 * double(count) / error);
}

int MaxDifference(const Yuv420& a, const Yuv420& b) {
    int largest = 0;
    auto check = [&](const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y) {
        if (x.size() != y.size())
            largest = 255;
        for (std::size_t i = 0; i < x.size() && i < y.size(); ++i)
            largest = std::max(largest, std::abs(int(x[i]) - int(y[i])));
    };
    check(a.y, b.y);
    check(a.u, b.u);
    check(a.v, b.v);
    return largest;
}

std::vector<MediaEventType> QueuedEventTypes(IMFMediaEventGenerator* generator) {
    std::vector<MediaEventType> types;
    ComPtr<IMFMediaEvent> event;
    while (SUCCEEDED(generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event))) {
        MediaEventType type = MEUnknown;
        event->GetType(&type);
        types.push_back(type);
    }
    return types;
}

D3D11_TEXTURE2D_DESC CapturedTextureDesc(UINT width, UINT height) {
    return {width,
            height,
            1,
            1,
            DXGI_FORMAT_B8G8R8A8_UNORM,
            {1, 0},
            D3D11_USAGE_DEFAULT,
            D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE,
            0,
            0};
}

std::vector<int> NalTypes(const std::vector<std::uint8_t>& annexB, bool hevc) {
    std::vector<int> types;
    for (std::size_t i = 0; i + 3 < annexB.size(); ++i)
        if (annexB[i] == 0 && annexB[i + 1] == 0 && annexB[i + 2] == 1) {
            types.push_back(hevc ? (annexB[i + 3] >> 1) & 0x3F : annexB[i + 3] & 0x1F);
            i += 2;
        }
    return types;
}

struct TestDecoder::Impl {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    ~Impl() {
        avcodec_free_context(&context);
        av_packet_free(&packet);
        av_frame_free(&frame);
    }
};

TestDecoder::TestDecoder(Codec codec, const std::vector<std::uint8_t>& extradata)
    : m_impl(std::make_unique<Impl>()) {
    const AVCodecID id = codec == Codec::H264   ? AV_CODEC_ID_H264
                         : codec == Codec::Hevc ? AV_CODEC_ID_HEVC
                         : codec == Codec::Aac  ? AV_CODEC_ID_AAC
                                                : AV_CODEC_ID_FLAC;
    const AVCodec* decoder = avcodec_find_decoder(id);
    m_impl->context = avcodec_alloc_context3(decoder);
    m_impl->packet = av_packet_alloc();
    m_impl->frame = av_frame_alloc();
    if (!extradata.empty()) {
        m_impl->context->extradata =
            static_cast<std::uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(m_impl->context->extradata, extradata.data(), extradata.size());
        m_impl->context->extradata_size = static_cast<int>(extradata.size());
    }
    if (avcodec_open2(m_impl->context, decoder, nullptr) < 0)
        throw std::runtime_error("decoder did not open");
}

TestDecoder::~TestDecoder() = default;

void TestDecoder::Decode(const std::vector<std::uint8_t>& packet) {
    av_new_packet(m_impl->packet, static_cast<int>(packet.size()));
    std::memcpy(m_impl->packet->data, packet.data(), packet.size());
    if (avcodec_send_packet(m_impl->context, m_impl->packet) < 0)
        throw std::runtime_error("decoder refused a packet");
    av_packet_unref(m_impl->packet);
    Receive();
}

void TestDecoder::Flush() {
    avcodec_send_packet(m_impl->context, nullptr);
    Receive();
}

void TestDecoder::Receive() {
    AVFrame* frame = m_impl->frame;
    while (avcodec_receive_frame(m_impl->context, frame) == 0) {
        if (m_impl->context->codec_type == AVMEDIA_TYPE_VIDEO) {
            Yuv420 picture{frame->width, frame->height, {}, {}, {}};
            for (int row = 0; row < frame->height; ++row)
                picture.y.insert(picture.y.end(), frame->data[0] + row * frame->linesize[0],
                                 frame->data[0] + row * frame->linesize[0] + frame->width);
            for (int row = 0; row < frame->height / 2; ++row) {
                picture.u.insert(picture.u.end(), frame->data[1] + row * frame->linesize[1],
                                 frame->data[1] + row * frame->linesize[1] + frame->width / 2);
                picture.v.insert(picture.v.end(), frame->data[2] + row * frame->linesize[2],
                                 frame->data[2] + row * frame->linesize[2] + frame->width / 2);
            }
            m_pictures.push_back(std::move(picture));
        } else {
            m_channels = frame->ch_layout.nb_channels;
            for (int i = 0; i < frame->nb_samples; ++i)
                for (int c = 0; c < m_channels; ++c) {
                    const auto format = static_cast<AVSampleFormat>(frame->format);
                    float value = 0;
                    if (format == AV_SAMPLE_FMT_FLTP)
                        value = reinterpret_cast<const float*>(frame->extended_data[c])[i];
                    else if (format == AV_SAMPLE_FMT_S16)
                        value = reinterpret_cast<const std::int16_t*>(frame->data[0])[i * m_channels + c] /
                                32768.0f;
                    else if (format == AV_SAMPLE_FMT_S32)
                        value =
                            float(reinterpret_cast<const std::int32_t*>(frame->data[0])[i * m_channels + c] /
                                  2147483648.0);
                    m_audio.push_back(value);
                }
        }
        av_frame_unref(frame);
    }
}

double ToneFrequency(const std::vector<float>& samples, int rate) {
    // The median distance of rising crossings (with hysteresis, so quiet noise does not count), so that
    // silence or a jump in the signal leaves the answer alone.
    constexpr float Threshold = 0.05f;
    std::vector<std::size_t> periods;
    std::size_t last = 0;
    bool low = false;
    bool crossed = false;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] < -Threshold) {
            low = true;
        } else if (low && samples[i] > Threshold) {
            low = false;
            if (crossed)
                periods.push_back(i - last);
            crossed = true;
            last = i;
        }
    }
    if (periods.empty())
        return 0;
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    // Crossings fall on whole samples: average the periods around the median for a finer answer.
    const std::size_t median = periods[periods.size() / 2];
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t period : periods)
        if (period + 1 >= median && period <= median + 1) {
            sum += double(period);
            ++count;
        }
    return rate / (sum / double(count));
}

double ToneLevel(const std::vector<float>& samples, std::size_t begin, std::size_t count, double hz,
                 int rate) {
    // The Goertzel filter: the power of one frequency bin without a whole transform.
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hz / rate);
    double previous = 0;
    double beforePrevious = 0;
    for (std::size_t i = begin; i < begin + count; ++i) {
        const double current = samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power =
        previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return 2 * std::sqrt(std::max(0.0, power)) / double(count);
}
