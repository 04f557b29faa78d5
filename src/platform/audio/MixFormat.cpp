#include "MixFormat.h"

namespace {

constexpr WORD FloatBits = 32;

bool IsConsistent(const WAVEFORMATEX& format) {
    if (format.nChannels == 0 || format.nSamplesPerSec == 0 || format.wBitsPerSample == 0 ||
        format.wBitsPerSample % 8 != 0)
        return false;
    if (format.nBlockAlign != format.nChannels * (format.wBitsPerSample / 8))
        return false;
    if (format.nAvgBytesPerSec != format.nSamplesPerSec * format.nBlockAlign)
        return false;
    return format.wFormatTag != WAVE_FORMAT_EXTENSIBLE || format.cbSize >= WaveFormatExtensibleExtraBytes;
}

} // namespace

WAVEFORMATEXTENSIBLE MixFormatOf(const pulse::SinkFormat& format) {
    WAVEFORMATEXTENSIBLE mix{};
    mix.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    mix.Format.nChannels = static_cast<WORD>(format.channels);
    mix.Format.nSamplesPerSec = format.samplesPerSecond;
    mix.Format.wBitsPerSample = FloatBits;
    mix.Format.nBlockAlign = static_cast<WORD>(format.channels * FloatBits / 8);
    mix.Format.nAvgBytesPerSec = format.samplesPerSecond * mix.Format.nBlockAlign;
    mix.Format.cbSize = WaveFormatExtensibleExtraBytes;
    mix.Samples.wValidBitsPerSample = FloatBits;
    mix.dwChannelMask = format.channelMask;
    mix.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    return mix;
}

HRESULT CheckStreamFormat(const WAVEFORMATEX& format, const WAVEFORMATEXTENSIBLE& mixFormat) {
    if (!IsConsistent(format))
        return E_INVALIDARG;
    if (format.nSamplesPerSec != mixFormat.Format.nSamplesPerSec ||
        format.nChannels != mixFormat.Format.nChannels || format.wBitsPerSample != FloatBits)
        return AUDCLNT_E_UNSUPPORTED_FORMAT;
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT)
        return S_OK;
    if (format.wFormatTag != WAVE_FORMAT_EXTENSIBLE)
        return AUDCLNT_E_UNSUPPORTED_FORMAT;
    const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
    const bool same = extensible.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT &&
                      extensible.Samples.wValidBitsPerSample == FloatBits &&
                      extensible.dwChannelMask == mixFormat.dwChannelMask;
    return same ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
}
