// The .deb that cpack makes from this build, unpacked into a private root: what it declares and holds, and
// that what it holds runs from there.

#include "ProcessRunner.h"
#include "TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

using ::testing::HasSubstr;

namespace {

namespace fs = std::filesystem;

class DebianPackageTest : public ::testing::Test {
protected:
    // One package for all the checks: making it is the slow part.
    static void SetUpTestSuite() {
        s_dir = std::make_unique<TempDirectory>();
        ProcessOptions options;
        options.timeout = std::chrono::minutes(5);
        const ProcessResult made = RunProcess(
            {PYX_CPACK_COMMAND, "--config", PYX_CPACK_CONFIG, "-G", "DEB", "-B", s_dir->Path("out").string()},
            options);
        ASSERT_EQ(made.exitStatus, 0) << made.standardOutput << made.standardError;
        for (const auto& entry : fs::directory_iterator(s_dir->Path("out")))
            if (entry.path().extension() == ".deb")
                s_deb = entry.path();
        ASSERT_FALSE(s_deb.empty()) << made.standardOutput;
        const ProcessResult unpacked =
            RunProcess({"/usr/bin/dpkg-deb", "-x", s_deb.string(), Root().string()});
        ASSERT_EQ(unpacked.exitStatus, 0) << unpacked.standardError;
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    static fs::path Root() { return s_dir->Path("root"); }

    static std::unique_ptr<TempDirectory> s_dir;
    static fs::path s_deb;
};

std::unique_ptr<TempDirectory> DebianPackageTest::s_dir;
fs::path DebianPackageTest::s_deb;

TEST_F(DebianPackageTest, DeclaresTheLibrariesItLinksAndHoldsEveryInstalledPart) {
    ASSERT_FALSE(s_deb.empty());
    const ProcessResult fields =
        RunProcess({"/usr/bin/dpkg-deb", "-f", s_deb.string(), "Package", "Depends"});
    ASSERT_EQ(fields.exitStatus, 0) << fields.standardError;
    EXPECT_THAT(fields.standardOutput, HasSubstr("Package: pyx-video\n"));
    // From the shared libraries the programs link, with the versions dpkg-shlibdeps found.
    for (const char* library : {"libc6 (>=", "libavcodec", "libxcb", "libpulse", "libjpeg62-turbo"})
        EXPECT_THAT(fields.standardOutput, HasSubstr(library));

    for (const char* file : {"usr/bin/pyx-video", "usr/lib/libpyx-video-client.a",
                             "usr/lib/libpyx-video-client.so", "usr/include/pyx-video-client.h",
                             "usr/lib/pkgconfig/pyx-video-client.pc", "usr/share/doc/pyx-video/README.md"})
        EXPECT_TRUE(fs::exists(Root() / file)) << file;
}

// A reporter built against the unpacked header and library through pkg-config finds the recorder unpacked
// beside the library, and learns why it failed (there is no display to record).
TEST_F(DebianPackageTest, TheUnpackedClientLibraryBuildsAndStartsTheUnpackedRecorder) {
    ASSERT_FALSE(s_deb.empty());
    const fs::path source = s_dir->Path("reporter.c");
    std::ofstream(source) << R"(#include <pyx-video-client.h>
#include <stdio.h>
int main(void) {
    pyx_video_options options;
    pyx_video_options_init(&options);
    char why[256] = "";
    pyx_video_recorder* recorder = pyx_video_start(&options, why, sizeof why);
    if (recorder == NULL) {
        printf("not started: %s\n", why);
        return 1;
    }
    pyx_video_outcome outcome;
    pyx_video_stop(recorder, 20000, &outcome);
    printf("%s\n", outcome.reason);
    return 0;
}
)";
    ProcessOptions options;
    options.environment["PKG_CONFIG_PATH"] = (Root() / "usr/lib/pkgconfig").string();
    const ProcessResult flags =
        RunProcess({"/usr/bin/pkg-config", "--cflags", "--libs", "pyx-video-client"}, options);
    ASSERT_EQ(flags.exitStatus, 0) << flags.standardError;
    const std::string reporter = s_dir->Path("reporter").string();
    const std::string flagsText = flags.standardOutput.substr(0, flags.standardOutput.find('\n'));
    const ProcessResult built = RunProcess({"/bin/sh", "-c",
                                            "cc -o " + reporter + " " + source.string() + " " + flagsText +
                                                " -Wl,-rpath," + (Root() / "usr/lib").string()});
    ASSERT_EQ(built.exitStatus, 0) << built.standardError;

    ProcessOptions run;
    run.environment["DISPLAY"] = std::nullopt;
    run.environment["PYX_VIDEO_RECORDER"] = std::nullopt;
    const ProcessResult ran = RunProcess({reporter}, run);
    EXPECT_EQ(ran.exitStatus, 0) << ran.standardOutput << ran.standardError;
    EXPECT_EQ(ran.standardOutput, "the recorder failed with exit status 255\n");
}

TEST_F(DebianPackageTest, TheUnpackedProgramTellsItsVersion) {
    ASSERT_FALSE(s_deb.empty());
    ProcessOptions options;
    options.environment["DISPLAY"] = std::nullopt;
    const ProcessResult version = RunProcess({(Root() / "usr/bin/pyx-video").string(), "--version"}, options);
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_THAT(version.standardOutput, HasSubstr(PYX_VERSION));
}

TEST_F(DebianPackageTest, TheManPageReads) {
    ASSERT_FALSE(s_deb.empty());
    const fs::path page = Root() / "usr/share/man/man1/pyx-video.1.gz";
    ASSERT_TRUE(fs::exists(page));
    ProcessOptions options;
    options.environment["MANPAGER"] = "cat";
    options.environment["MANWIDTH"] = "100";
    const ProcessResult shown = RunProcess({"/usr/bin/man", "-l", page.string()}, options);
    EXPECT_EQ(shown.exitStatus, 0) << shown.standardError;
    EXPECT_THAT(shown.standardOutput, HasSubstr("PYX-VIDEO(1)"));
    EXPECT_THAT(shown.standardOutput, HasSubstr("--pid"));
}

} // namespace
