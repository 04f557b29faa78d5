// The recorder under the faults a crash reporter's machine and a hostile user produce: a second user of the
// same NAME, signals during start-up, a closed standard error, FIFOs, links and other users' files at its
// paths, a full file system. Each run uses the capture that writes real packets, so the ring holds a
// recording to lose.

#include "EventDescriptor.h"
#include "MediaProbe.h"
#include "MetadataSchema.h"
#include "ProcessRunner.h"
#include "TempDirectory.h"
#include "TestWindowProcess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int Saved = 0;
constexpr int SaveFailed = 1;
constexpr int NothingRecorded = 3;
constexpr int NameInUse = 4;

std::string TestCaptureBinary() {
    const char* path = std::getenv("PYX_VIDEO_TEST_CAPTURE_BINARY");
    if (path == nullptr)
        throw std::runtime_error("PYX_VIDEO_TEST_CAPTURE_BINARY is not set");
    return path;
}

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> RingFiles(const fs::path& name) {
    const std::string base = name.string();
    return {base + "0", base + "0.idx", base + "1", base + "1.idx"};
}

std::uintmax_t RingBytes(const fs::path& name) {
    std::uintmax_t bytes = 0;
    for (const fs::path& path : RingFiles(name)) {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(path, error);
        bytes += error ? 0 : size;
    }
    return bytes;
}

class RecorderSafety : public ::testing::Test {
protected:
    void SetUp() override {
        m_target.Create("main 320 240 100 100 000000");
        m_target.Command("animate main");
    }

    std::vector<std::string> Arguments(const fs::path& name,
                                       const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> arguments{TestCaptureBinary(),
                                           "--pid=" + std::to_string(m_target.Pid()),
                                           "--save-event",
                                           m_save.HandleValue(),
                                           "--cancel-event",
                                           m_cancel.HandleValue(),
                                           "--file",
                                           name.string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }

    std::unique_ptr<ChildProcess> Start(const fs::path& name, const std::vector<std::string>& extra = {}) {
        ProcessOptions options;
        options.inheritedDescriptors = {m_save.Fd(), m_cancel.Fd()};
        return std::make_unique<ChildProcess>(Arguments(name, extra), options);
    }

    static ::testing::AssertionResult Shows(const ChildProcess& recorder, const std::string& text,
                                            std::chrono::milliseconds timeout = 15000ms) {
        if (Eventually([&] { return recorder.StandardError().find(text) != std::string::npos; }, timeout))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no \"" << text << "\" in:\n" << recorder.StandardError();
    }

    // Waits until the recording has reached the ring.
    static void Recording(const ChildProcess& recorder, const fs::path& name) {
        ASSERT_TRUE(Shows(recorder, "found window"));
        ASSERT_TRUE(Eventually([&] { return RingBytes(name) > 20000; }, 10000ms)) << recorder.StandardError();
    }

    static ProcessResult Export(const fs::path& name) {
        ProcessOptions options;
        options.timeout = 20000ms;
        return RunProcess({PyxVideoBinary(), "--export", name.string()}, options);
    }

    TempDirectory m_temp;
    EventDescriptor m_save;
    EventDescriptor m_cancel;
    TestWindowProcess m_target;
};

TEST_F(RecorderSafety, OneNameHasOneUserAndAKilledRecordersLockNeverBlocksRecovery) {
    const fs::path name = m_temp.Path("k1");
    auto first = Start(name);
    Recording(*first, name);

    // A second recorder and an export of the same NAME refuse at once and touch nothing.
    ProcessOptions withEvents;
    withEvents.inheritedDescriptors = {m_save.Fd(), m_cancel.Fd()};
    const ProcessResult second = RunProcess(Arguments(name), withEvents);
    EXPECT_EQ(second.exitStatus, NameInUse) << second.standardError;
    EXPECT_THAT(second.standardError, HasSubstr("k1.lock is locked by another recorder or export"));
    const ProcessResult exported = Export(name);
    EXPECT_EQ(exported.exitStatus, NameInUse) << exported.standardError;
    EXPECT_THAT(exported.standardError, HasSubstr("nothing was touched"));
    for (const fs::path& path : RingFiles(name))
        EXPECT_TRUE(fs::exists(path)) << path;
    const std::uintmax_t before = RingBytes(name);
    EXPECT_TRUE(Eventually([&] { return RingBytes(name) > before; }));

    m_save.Signal();
    const ProcessResult saved = first->Wait(20000ms);
    EXPECT_EQ(saved.exitStatus, Saved) << saved.standardError;
    EXPECT_EQ(ProbeStreams(m_temp.Path("k1.mp4")).size(), 2u);
    EXPECT_FALSE(fs::exists(m_temp.Path("k1.lock")));
    ::eventfd_t consumed;
    ::eventfd_read(m_save.Fd(), &consumed);

    // kill -9 leaves the ring and the lock file; the kernel dropped the lock, so the export goes ahead.
    const fs::path killedName = m_temp.Path("k2");
    auto killed = Start(killedName);
    Recording(*killed, killedName);
    // The recorder notes a capture's clock within a turn of its control loop after the capture's first
    // packet.
    ASSERT_TRUE(Eventually([&] {
        std::ifstream notes(m_temp.Path("k2.clk"));
        return std::string(std::istreambuf_iterator<char>(notes), {}).find("\ncapture\t") !=
               std::string::npos;
    }));
    killed->Signal(SIGKILL);
    killed->Wait(5000ms);
    EXPECT_TRUE(fs::exists(m_temp.Path("k2.lock")));
    const ProcessResult recovered = Export(killedName);
    EXPECT_EQ(recovered.exitStatus, Saved) << recovered.standardError;
    EXPECT_EQ(ProbeStreams(m_temp.Path("k2.mp4")).size(), 2u);
    // The clock notes the recorder kept beside its ring give the export's NAME.json the pictures' times, and
    // go with the ring.
    const nlohmann::json metadata = ReadMetadata(m_temp.Path("k2.json"));
    EXPECT_THAT(MetadataSchemaErrors(metadata), ::testing::IsEmpty()) << metadata.dump(2);
    EXPECT_EQ(metadata["pid"], m_target.Pid());
    ASSERT_FALSE(metadata["first_picture"].is_null()) << metadata.dump(2);
    EXPECT_LT(metadata["first_picture"]["monotonic_ns"], metadata["last_picture"]["monotonic_ns"]);
    ASSERT_EQ(metadata["captures"].size(), 1u) << metadata.dump(2);
    EXPECT_EQ(metadata["captures"][0]["kind"], "window");
    for (const char* notes : {"k1.clk", "k2.clk"})
        EXPECT_FALSE(fs::exists(m_temp.Path(notes))) << notes;
}

// A hand-started recorder told to save before it has set anything up: the signal is kept for the moment it
// can act, and the run ends with the status of what it had, never killed by the signal.
TEST_F(RecorderSafety, ASaveSignalDuringStartUpIsHonoured) {
    for (const auto delay : {0ms, 5ms, 20ms, 100ms}) {
        const fs::path name = m_temp.Path("s" + std::to_string(delay.count()));
        // The pyx-video command itself, as a user types it.
        const std::vector<std::string> arguments{PyxVideoBinary(), "--pid=" + std::to_string(m_target.Pid()),
                                                 "--file", name.string()};
        std::unique_ptr<ChildProcess> recorder;
        if (delay == 0ms) {
            // At 0 ms the signal would reach the test's own child before it runs the recorder: hold it
            // blocked across the exec, so it is pending at the recorder's first instruction.
            sigset_t usr1;
            sigemptyset(&usr1);
            sigaddset(&usr1, SIGUSR1);
            pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
            recorder = std::make_unique<ChildProcess>(arguments);
            recorder->Signal(SIGUSR1);
            pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
        } else {
            recorder = std::make_unique<ChildProcess>(arguments);
            std::this_thread::sleep_for(delay);
            recorder->Signal(SIGUSR1);
        }
        const ProcessResult result = recorder->Wait(20000ms);
        EXPECT_TRUE(result.exitStatus == Saved || result.exitStatus == NothingRecorded)
            << delay.count() << " ms: status " << result.exitStatus << "\n"
            << result.standardError;
        EXPECT_THAT(result.standardError, HasSubstr("INFO     event: save\n")) << delay.count() << " ms";
        EXPECT_EQ(fs::exists(name.string() + ".mp4"), result.exitStatus == Saved) << delay.count() << " ms";
    }
}

// Runs the recorder with standard error replaced: closed, or a pipe whose reader quits after the first
// lines. Returns its exit status.
int RunWithStandardError(const std::vector<std::string>& arguments, const std::vector<int>& inherited,
                         bool closed, const EventDescriptor& save) {
    int ends[2];
    if (::pipe(ends) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (closed)
            ::close(STDERR_FILENO);
        else
            ::dup2(ends[1], STDERR_FILENO);
        for (int fd : inherited)
            ::fcntl(fd, F_SETFD, 0);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(ends[1]);
    if (!closed) {
        char buffer[256];
        (void)!::read(ends[0], buffer, sizeof buffer);
    }
    ::close(ends[0]);
    std::this_thread::sleep_for(2500ms);
    save.Signal();
    int status = 0;
    for (int i = 0; i < 400 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(50ms);
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(RecorderSafety, AClosedStandardErrorNeverStopsTheRecording) {
    for (const bool closed : {true, false}) {
        const fs::path name = m_temp.Path(closed ? "closed" : "quitter");
        const int status =
            RunWithStandardError(Arguments(name), {m_save.Fd(), m_cancel.Fd()}, closed, m_save);
        EXPECT_EQ(status, Saved) << (closed ? "closed" : "quitting reader");
        EXPECT_EQ(ProbeStreams(name.string() + ".mp4").size(), 2u) << (closed ? "closed" : "quitting reader");
        ::eventfd_t ignored;
        ::eventfd_read(m_save.Fd(), &ignored);
    }
}

// A hard link or a symbolic link to a victim, or a file another user made beforehand in a shared sticky
// folder, at any path the recorder writes: each is replaced by a new file of the recorder's own.
TEST_F(RecorderSafety, LinksAndOtherUsersFilesAreReplacedNeverWrittenThrough) {
    const fs::path shared = m_temp.Path("shared");
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const fs::path victim = m_temp.Path("victim");
    std::ofstream(victim) << "victim";
    const fs::path name = shared / "f4";
    fs::create_hard_link(victim, name.string() + "0");
    fs::create_hard_link(victim, name.string() + "1.idx");
    fs::create_hard_link(victim, name.string() + ".mp4");
    fs::create_symlink(victim, name.string() + ".jpg");
    fs::create_hard_link(victim, name.string() + ".json");
    // Another user's files, which that user keeps open to read what the recorder would write into them.
    std::vector<int> spies;
    for (const std::string suffix : {"0.idx", "1"}) {
        const std::string path = name.string() + suffix;
        spies.push_back(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        ASSERT_EQ(::fchown(spies.back(), 65534, 65534), 0);
    }

    auto recorder = Start(name);
    Recording(*recorder, name);
    std::this_thread::sleep_for(1000ms);
    m_save.Signal();
    const ProcessResult result = recorder->Wait(20000ms);
    EXPECT_EQ(result.exitStatus, Saved) << result.standardError;

    EXPECT_EQ(Contents(victim), "victim");
    EXPECT_EQ(fs::hard_link_count(victim), 1u);
    for (const int spy : spies) {
        struct stat status {};
        EXPECT_EQ(::fstat(spy, &status), 0);
        EXPECT_EQ(status.st_size, 0);
        ::close(spy);
    }
    EXPECT_EQ(ProbeStreams(name.string() + ".mp4").size(), 2u);
    for (const char* suffix : {".mp4", ".jpg", ".json"}) {
        const fs::path path = name.string() + suffix;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path))) << suffix;
        EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
    }
    // Only the outputs are left: no temporary file, no lock file.
    EXPECT_EQ(std::distance(fs::directory_iterator(shared), fs::directory_iterator()), 3);
}

// A FIFO at a ring path is replaced, one at the log path is refused at once; an export facing FIFOs in
// place of its ring files refuses within a second, and one at NAME.mp4 is replaced.
TEST_F(RecorderSafety, FifosNeverBlock) {
    const fs::path name = m_temp.Path("f");
    const fs::path log = m_temp.Path("log");
    for (const fs::path& path : RingFiles(name))
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    auto recorder = Start(name, {"--log", log.string()});
    EXPECT_TRUE(Shows(*recorder,
                      "unable to open log file: filename(" + log.string() + "), error(not a regular file)",
                      1000ms));
    Recording(*recorder, name);
    m_save.Signal();
    const ProcessResult result = recorder->Wait(20000ms);
    EXPECT_EQ(result.exitStatus, Saved) << result.standardError;

    for (const fs::path& path : RingFiles(name))
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult refused = Export(name);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms);
    EXPECT_EQ(refused.exitStatus, SaveFailed);
    EXPECT_THAT(refused.standardError, HasSubstr(name.string() + "0: not a regular file"));
}

// A full file system: the save fails in words, once, with the path, the status says so and the ring stays;
// once there is room again the ring exports.
TEST_F(RecorderSafety, AFullFileSystemFailsTheSaveInWordsAndKeepsTheRing) {
    const fs::path mountPoint = m_temp.Path("small");
    fs::create_directory(mountPoint);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};

    const fs::path name = mountPoint / "full";
    auto recorder = Start(name);
    Recording(*recorder, name);
    // Fill what is left; the ring keeps what it had.
    {
        std::ofstream filler(mountPoint / "filler", std::ios::binary);
        const std::string block(65536, 'x');
        while (filler.write(block.data(), block.size()))
            ;
    }
    std::this_thread::sleep_for(500ms);
    m_save.Signal();
    const ProcessResult result = recorder->Wait(20000ms);
    EXPECT_EQ(result.exitStatus, SaveFailed) << result.standardError;
    EXPECT_THAT(result.standardError,
                HasSubstr("unable to write " + name.string() + ".mp4: no space left on device"));
    std::size_t mentions = 0;
    for (std::size_t at = 0; (at = result.standardError.find("no space left", at)) != std::string::npos; ++at)
        ++mentions;
    EXPECT_LE(mentions, 4u) << result.standardError;
    EXPECT_THAT(result.standardError, Not(HasSubstr("Success")));
    for (const fs::path& path : RingFiles(name))
        EXPECT_TRUE(fs::exists(path)) << path;
    EXPECT_FALSE(fs::exists(name.string() + ".mp4"));

    fs::remove(mountPoint / "filler");
    const ProcessResult recovered = Export(name);
    EXPECT_EQ(recovered.exitStatus, Saved) << recovered.standardError;
    EXPECT_EQ(ProbeStreams(name.string() + ".mp4").size(), 2u);
}

} // namespace
