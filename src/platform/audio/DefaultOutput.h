#pragma once
// The sound server's default output, looked up anew for each request over a connection of its own.

#include "platform/pulse/SoundServer.h"

#include <memory>
#include <optional>

struct DefaultOutput {
    std::shared_ptr<pulse::SoundServer> server;
    pulse::SinkFormat format;
};

// Nullopt when no server with a default sink answers in time.
std::optional<DefaultOutput> FindDefaultOutput();

// The format of the silent stand-in used while there is none: 48 kHz stereo.
pulse::SinkFormat StandInFormat();
