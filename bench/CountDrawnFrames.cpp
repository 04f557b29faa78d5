// Reads the frame numbers that pyx-demo-target draws into its window (16 squares of 32x32 pixels along the
// top edge, bit i at x = 32*i, white for 1) from every frame of a video file, and says how many distinct
// source frames the file holds and how many are missing between the first and the last. A frame whose
// squares are all black counts as blank (the window was not in the picture), not as number 0: the target
// draws 0 only as its very first frame.
//   count-drawn-frames [--origin X,Y] FILE    X,Y: where the window's top-left corner is in the video
//   count-drawn-frames --self-check           counts a clip drawn by ffmpeg with known numbers left out
// The target counts modulo 65536, about 18 minutes at 60 frames/s; longer files are not supported, so no
// wrap-around is handled.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kBits = 16;
constexpr int kSquare = 32;
constexpr int kWidth = kBits * kSquare;
constexpr int kHeight = kSquare;

struct Tally {
    long decoded = 0;
    long unreadable = 0; // frames where some square is neither clearly black nor clearly white
    long blank = 0;      // frames where every square is black
    long backwards = 0;  // frames whose number is below the one before
    std::optional<unsigned> first, last;
    std::vector<bool> seen = std::vector<bool>(65536, false);
    long distinct = 0;
    long missing = 0; // numbers between first and last never seen
};

// The number in one 512x32 grey frame, or nothing when a square is ambiguous (the window is not there, or
// is covered). The mean of the square's centre 8x8 pixels stays clear of the encoder's ringing at the edges.
std::optional<unsigned> ReadNumber(const std::uint8_t* frame) {
    unsigned number = 0;
    for (int bit = 0; bit < kBits; ++bit) {
        int sum = 0;
        for (int y = 12; y < 20; ++y)
            for (int x = bit * kSquare + 12; x < bit * kSquare + 20; ++x)
                sum += frame[y * kWidth + x];
        const int mean = sum / 64;
        if (mean > 64 && mean < 192)
            return std::nullopt;
        if (mean >= 128)
            number |= 1u << bit;
    }
    return number;
}

// Runs a command with its standard output on a pipe; returns the read end, or -1 with errno set.
int SpawnReading(const std::vector<std::string>& args, pid_t* pid) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int error = posix_spawnp(pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        errno = error;
        return -1;
    }
    return fds[0];
}

// 0 when the command exited with status 0; otherwise prints why and returns 1.
int Reap(pid_t pid, const char* what) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return 0;
    std::fprintf(stderr, "count-drawn-frames: %s failed (status %d)\n", what,
                 WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 1;
}

bool ReadFull(int fd, std::uint8_t* data, size_t size, bool* end) {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, data + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            *end = got == 0 && done == 0;
            return false;
        }
        done += size_t(got);
    }
    return true;
}

// Decodes FILE through ffmpeg, cropped to the squares, and tallies the numbers. Returns 0 on success.
int Count(const std::string& file, int originX, int originY, Tally* tally) {
    const std::string crop = "crop=" + std::to_string(kWidth) + ":" + std::to_string(kHeight) + ":" +
                             std::to_string(originX) + ":" + std::to_string(originY) + ",format=gray";
    // Every frame as it is in the file, at the file's own times: on ffmpeg's guessed frame-rate grid, frames
    // of a capture that runs slightly slow would collide and be complained about.
    pid_t pid = 0;
    const int fd = SpawnReading({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-vf", crop, "-vsync",
                                 "passthrough", "-enc_time_base", "-1", "-f", "rawvideo", "-"},
                                &pid);
    if (fd < 0) {
        std::fprintf(stderr, "count-drawn-frames: cannot run ffmpeg: %s\n", std::strerror(errno));
        return 1;
    }
    std::vector<std::uint8_t> frame(size_t(kWidth) * kHeight);
    bool end = false;
    while (ReadFull(fd, frame.data(), frame.size(), &end)) {
        ++tally->decoded;
        const auto number = ReadNumber(frame.data());
        if (!number) {
            ++tally->unreadable;
            continue;
        }
        if (*number == 0) {
            ++tally->blank;
            continue;
        }
        if (tally->last && *number < *tally->last)
            ++tally->backwards;
        if (!tally->first)
            tally->first = number;
        tally->last = number;
        if (!tally->seen[*number]) {
            tally->seen[*number] = true;
            ++tally->distinct;
        }
    }
    close(fd);
    if (Reap(pid, "decoding") != 0)
        return 1;
    if (!end) {
        std::fprintf(stderr, "count-drawn-frames: the decoder stopped in the middle of a frame\n");
        return 1;
    }
    if (tally->first && *tally->last >= *tally->first) {
        for (unsigned n = *tally->first; n <= *tally->last; ++n)
            tally->missing += tally->seen[n] ? 0 : 1;
    }
    return 0;
}

void Print(const Tally& tally) {
    std::printf("decoded frames: %ld\n", tally.decoded);
    std::printf("unreadable frames: %ld\n", tally.unreadable);
    std::printf("blank frames: %ld\n", tally.blank);
    std::printf("distinct numbers: %ld\n", tally.distinct);
    if (tally.first) {
        std::printf("first: %u\n", *tally.first);
        std::printf("last: %u\n", *tally.last);
    }
    std::printf("missing: %ld\n", tally.missing);
    std::printf("backwards: %ld\n", tally.backwards);
}

int Run(const std::vector<std::string>& args) {
    pid_t pid = 0;
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int error = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        std::fprintf(stderr, "count-drawn-frames: cannot run %s: %s\n", argv[0], std::strerror(error));
        return 1;
    }
    return Reap(pid, argv[0]);
}

// Draws the squares with ffmpeg for 180 frames numbered from 40000 (so the top bit is used), at an offset
// inside a larger picture; numbers 40020..40022 are left out with the frame before them repeated in their
// place, and 40100..40104 with black squares in their place. Encodes to H.264 and counts the result.
int SelfCheck() {
    char dirTemplate[] = "/tmp/count-drawn-frames.XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::fprintf(stderr, "count-drawn-frames: cannot make a temporary directory: %s\n",
                     std::strerror(errno));
        return 1;
    }
    const std::filesystem::path dir(dirTemplate);
    const std::string clip = (dir / "clip.mp4").string();
    const std::string number = "if(between(N,100,104),0,40000+if(between(N,20,22),19,N))";
    const std::string draw = "geq=lum='if(between(X,40,551)*between(Y,20,51),255*mod(floor(" + number +
                             "/pow(2,floor((X-40)/32))),2),90)':cb=128:cr=128";
    const int made = Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                          "color=c=gray:s=640x96:r=60:d=3", "-vf", "format=yuv420p," + draw, "-c:v",
                          "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", clip});
    Tally tally;
    const int counted = made == 0 ? Count(clip, 40, 20, &tally) : 1;
    std::filesystem::remove_all(dir);
    if (counted != 0)
        return 1;
    Print(tally);
    const bool ok = tally.decoded == 180 && tally.unreadable == 0 && tally.blank == 5 &&
                    tally.distinct == 172 && tally.first == 40000u && tally.last == 40179u &&
                    tally.missing == 8 && tally.backwards == 0;
    std::printf("self-check: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}

bool ParseOrigin(const char* text, int* x, int* y) {
    char tail = 0;
    return std::sscanf(text, "%d,%d%c", x, y, &tail) == 2 && *x >= 0 && *y >= 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* usage = "usage: count-drawn-frames [--origin X,Y] FILE | --self-check\n";
    if (argc == 2 && std::strcmp(argv[1], "--self-check") == 0)
        return SelfCheck();
    int x = 0, y = 0;
    int arg = 1;
    if (argc == 4 && std::strcmp(argv[1], "--origin") == 0) {
        if (!ParseOrigin(argv[2], &x, &y)) {
            std::fprintf(stderr, "count-drawn-frames: --origin takes X,Y (non-negative), not '%s'\n",
                         argv[2]);
            return 2;
        }
        arg = 3;
    } else if (argc != 2 || argv[1][0] == '-') {
        std::fputs(usage, stderr);
        return 2;
    }
    if (!std::filesystem::is_regular_file(argv[arg])) {
        std::fprintf(stderr, "count-drawn-frames: no such file: %s\n", argv[arg]);
        return 1;
    }
    Tally tally;
    if (Count(argv[arg], x, y, &tally) != 0)
        return 1;
    Print(tally);
    return 0;
}
