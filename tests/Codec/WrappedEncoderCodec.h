#pragma once
// A codec transform for tests that encodes with one of the platform's synchronous H.264 encoders in place of
// a vendor runtime: what a vendor class does, done with a transform instead of a hardware session. Each input
// gives its packets as have-output events; the next input is asked for once they are all delivered. The
// frame and stream numbers travel from input to output.

#include "Codec/MfCodecBase.h"

#include <deque>
#include <mutex>

class WrappedEncoderCodec : public kiv::mfcodec::Base {
public:
    static constexpr UINT32 Gop = 120;

    static const kiv::mfcodec::RegistrationInfo& Registration();
    // Throws kiv::mfcodec::Exception when no platform H.264 encoder can be made.
    static void Create(ComPtr<kiv::mfcodec::Base>& object, const EncoderQuery& query);

protected:
    explicit WrappedEncoderCodec(const kiv::mfcodec::RegistrationInfo& info);

    HRESULT onSpecsChanged(bool inputChanged, bool outputChanged) override;
    HRESULT onBeginStreaming() override;
    HRESULT onInputArrived(IMFSample* sample) override;
    HRESULT onOutputRequested(MFT_OUTPUT_DATA_BUFFER& out) override;

private:
    HRESULT PullPackets(IMFSample* input, std::size_t& produced);

    ComPtr<IMFTransform> m_encoder;
    std::mutex m_mutex;
    std::deque<ComPtr<IMFSample>> m_ready;
};
