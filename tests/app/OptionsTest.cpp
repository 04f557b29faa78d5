#include "app/Options.h"
#include "app/CommandLine.h"

#include <gtest/gtest.h>
#include <stringapiset.h>

#include <cstdio>
#include <string>

namespace {

ArgumentList Args(std::initializer_list<const wchar_t*> rest) {
    ArgumentList arguments{L"/usr/bin/pyx-video"};
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    return arguments;
}

std::string Refusal(std::initializer_list<const wchar_t*> rest) {
    try {
        ReadOptions(Args(rest));
    } catch (const CommandLineError& e) {
        return e.what();
    }
    return "accepted";
}

TEST(OptionsTest, DefaultsApplyAndBothValueFormsGiveTheSameResult) {
    const Options defaults = ReadOptions(Args({}));
    EXPECT_EQ(defaults.pid, 0u);
    EXPECT_EQ(defaults.duration, 10u);
    EXPECT_EQ(defaults.saveEvent, nullptr);
    EXPECT_EQ(defaults.cancelEvent, nullptr);
    EXPECT_EQ(defaults.file, L"crash-report");
    EXPECT_FALSE(defaults.noVideo || defaults.noDesktop || defaults.help || defaults.version);
    EXPECT_EQ(defaults.logFile, L"");

    EXPECT_EQ(ReadOptions(Args({L"--duration", L"0"})).duration, 10u);
    EXPECT_EQ(ReadOptions(Args({L"--duration=30"})).duration, 30u);
    EXPECT_EQ(ReadOptions(Args({L"--pid=1234"})).pid, ReadOptions(Args({L"--pid", L"1234"})).pid);
    EXPECT_EQ(ReadOptions(Args({L"--pid=4294967295"})).pid, 4294967295u);
    EXPECT_EQ(ReadOptions(Args({L"--file="})).file, L"crash-report");

    const Options options = ReadOptions(Args({L"--save-event", L"1A4", L"--cancel-event=0x123456789",
                                              L"--file", L"--no-video", L"--no-desktop", L"--log=/tmp/l"}));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(options.saveEvent), 0x1A4u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(options.cancelEvent), 0x123456789u);
    // A value option takes the next argument whatever it looks like; it is not read as a flag as well.
    EXPECT_EQ(options.file, L"--no-video");
    EXPECT_FALSE(options.noVideo);
    EXPECT_TRUE(options.noDesktop);
    EXPECT_EQ(options.logFile, L"/tmp/l");
    EXPECT_EQ(ReadOptions(Args({L"--save-event=420"})).saveEvent, reinterpret_cast<HANDLE>(0x420));
}

// Values that the C library would have turned into other numbers, and arguments it would have ignored, are
// refused with the option and the value named.
TEST(OptionsTest, AnythingButAWholeNumberInRangeOrAKnownOptionIsRefused) {
    EXPECT_EQ(Refusal({L"--duration", L"-1"}), "'--duration' value '-1' is not a whole number");
    EXPECT_EQ(Refusal({L"--duration=abc"}), "'--duration' value 'abc' is not a whole number");
    EXPECT_EQ(Refusal({L"--duration", L"1.5"}), "'--duration' value '1.5' is not a whole number");
    EXPECT_EQ(Refusal({L"--duration=4294967297"}),
              "'--duration' value '4294967297' is out of range (0 to 4294967295)");
    EXPECT_EQ(Refusal({L"--duration=21601"}), "'--duration' value '21601' is out of range (0 to 21600)");
    EXPECT_EQ(ReadOptions(Args({L"--duration=21600"})).duration, 21600u);
    EXPECT_EQ(Refusal({L"--pid=12abc"}), "'--pid' value '12abc' is not a whole number");
    EXPECT_EQ(Refusal({L"--pid= 12"}), "'--pid' value ' 12' is not a whole number");
    EXPECT_EQ(Refusal({L"--pid="}), "'--pid' value '' is not a whole number");
    EXPECT_EQ(Refusal({L"--save-event=0xg"}), "'--save-event' value '0xg' is not a hexadecimal handle value");
    EXPECT_EQ(Refusal({L"--cancel-event=0x"}),
              "'--cancel-event' value '0x' is not a hexadecimal handle value");
    EXPECT_EQ(Refusal({L"--pid"}), "'--pid' needs a value: PID");
    EXPECT_EQ(Refusal({L"--no-videos"}), "'--no-videos' is not an option (see --help)");
    EXPECT_EQ(Refusal({L"--no-video=1"}), "'--no-video=1' takes no value");
    EXPECT_EQ(Refusal({L"report"}), "'report' is not expected (see --help)");
    EXPECT_EQ(Refusal({L"--pid=1", L"--pid=2"}), "'--pid' is given more than once");
    EXPECT_EQ(Refusal({L"--help", L"--version"}), "accepted");
}

TEST(OptionsTest, AudioModeIsOneOfThreeNamesAndTheWholeMixByDefault) {
    EXPECT_EQ(ReadOptions(Args({})).audio, AudioCaptureMode::System);
    EXPECT_EQ(ReadOptions(Args({L"--audio", L"system"})).audio, AudioCaptureMode::System);
    EXPECT_EQ(ReadOptions(Args({L"--audio=application"})).audio, AudioCaptureMode::Application);
    EXPECT_EQ(ReadOptions(Args({L"--audio", L"none"})).audio, AudioCaptureMode::None);
    for (const wchar_t* bad : {L"--audio=None", L"--audio=app", L"--audio="})
        EXPECT_NE(Refusal({bad}).find("is not system, application or none"), std::string::npos)
            << WideToUtf8(bad);
}

TEST(OptionsTest, UsageListsEveryOptionTheEventsAndTheExitStatuses) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    PrintUsage(out);
    std::fclose(out);
    const std::string usage(text, size);
    std::free(text);
    for (const char* expected :
         {"--pid=PID", "--duration=SECONDS", "--save-event=HANDLE", "--cancel-event=HANDLE", "--file=NAME",
          "--no-video", "--no-desktop", "--audio=MODE", "--log=PATH", "--export NAME", "SIGUSR1", "SIGTERM",
          "Exit status:", "  4    NAME is in use", "  255  "})
        EXPECT_NE(usage.find(expected), std::string::npos) << expected << " missing from:\n" << usage;
}

} // namespace
