#include "DefaultOutput.h"

#include "platform/pulse/Connection.h"
#include <mmreg.h>

#include <chrono>

namespace {

// A server that accepts the connection but does not answer within this time counts as absent.
constexpr std::chrono::milliseconds ServerTimeout{2000};

} // namespace

std::optional<DefaultOutput> FindDefaultOutput() {
    auto connection = pulse::Connection::Open(ServerTimeout);
    const auto sink = connection ? connection->DefaultSink(ServerTimeout) : std::nullopt;
    if (!sink)
        return std::nullopt;
    return DefaultOutput{std::move(connection), *sink};
}

pulse::SinkFormat StandInFormat() {
    pulse::SinkFormat format;
    format.samplesPerSecond = 48000;
    format.channels = 2;
    format.channelMask = KSAUDIO_SPEAKER_STEREO;
    return format;
}
