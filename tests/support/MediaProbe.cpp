#include "MediaProbe.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

CommandResult RunCommand(const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    CommandResult result;
    char buffer[1 << 16];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buffer, sizeof(buffer))) > 0)
        result.output.append(buffer, std::size_t(got));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<ProbedStream> ProbeStreams(const std::filesystem::path& file) {
    const CommandResult result = RunCommand({"ffprobe", "-v", "error", "-count_packets", "-show_entries",
                                             "stream=index,codec_type,codec_name,width,height,r_frame_rate,"
                                             "sample_rate,channels,start_time,duration,"
                                             "nb_read_packets",
                                             "-of", "default=noprint_wrappers=0", file.string()});
    std::vector<ProbedStream> streams;
    if (result.exitCode != 0)
        return streams;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line == "[STREAM]") {
            streams.emplace_back();
        } else if (const auto equals = line.find('='); equals != std::string::npos && !streams.empty()) {
            streams.back()[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return streams;
}

std::vector<ProbedPacket> ProbePackets(const std::filesystem::path& file, const std::string& kind) {
    const CommandResult result =
        RunCommand({"ffprobe", "-v", "error", "-select_streams", kind + ":0", "-show_entries",
                    "packet=pts_time,duration_time,flags", "-of", "csv=p=0", file.string()});
    std::vector<ProbedPacket> packets;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string time, duration, flags;
        std::getline(fields, time, ',');
        std::getline(fields, duration, ',');
        std::getline(fields, flags, ',');
        if (time.empty())
            continue;
        packets.push_back({std::stod(time), duration.empty() ? 0 : std::stod(duration),
                           flags.find('K') != std::string::npos});
    }
    return packets;
}

long long FindTopLevelBox(const std::filesystem::path& file, const std::string& type) {
    std::ifstream in(file, std::ios::binary);
    long long offset = 0;
    unsigned char header[16];
    while (in.read(reinterpret_cast<char*>(header), 8)) {
        unsigned long long size =
            (unsigned long long)header[0] << 24 | header[1] << 16 | header[2] << 8 | header[3];
        if (std::string(reinterpret_cast<char*>(header) + 4, 4) == type)
            return offset;
        if (size == 1) {
            if (!in.read(reinterpret_cast<char*>(header + 8), 8))
                break;
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = size << 8 | header[i];
        }
        if (size < 8)
            break;
        offset += static_cast<long long>(size);
        in.seekg(offset);
    }
    return -1;
}

std::vector<YuvFrame> DecodeEveryNthFrame(const std::filesystem::path& file, int width, int height,
                                          int every) {
    const CommandResult result = RunCommand({"ffmpeg", "-v", "error", "-i", file.string(), "-vf",
                                             "select=not(mod(n\\," + std::to_string(every) + "))", "-vsync",
                                             "0", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    std::vector<YuvFrame> frames;
    const std::size_t lumaSize = std::size_t(width) * height;
    const std::size_t chromaSize = lumaSize / 4;
    const std::size_t frameSize = lumaSize + 2 * chromaSize;
    for (std::size_t at = 0; at + frameSize <= result.output.size(); at += frameSize) {
        YuvFrame frame{width, height, {}, {}, {}};
        const auto* data = reinterpret_cast<const std::uint8_t*>(result.output.data()) + at;
        frame.y.assign(data, data + lumaSize);
        frame.u.assign(data + lumaSize, data + lumaSize + chromaSize);
        frame.v.assign(data + lumaSize + chromaSize, data + frameSize);
        frames.push_back(std::move(frame));
    }
    return frames;
}
