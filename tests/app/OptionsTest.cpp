#include "app/Options.h"
#include "app/CommandLine.h"

#include <gtest/gtest.h>
#include <stringapiset.h>

#include <stdexcept>
#include <string>

namespace {

ArgumentList Args(std::initializer_list<const wchar_t*> rest) {
    ArgumentList arguments{L"/usr/bin/pyx-video"};
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    return arguments;
}

TEST(OptionValueTest, EqualsFormAndSeparateArgumentGiveTheSameValue) {
    EXPECT_EQ(GetOptionValue(Args({L"--pid=1234"}), L"--pid"), L"1234");
    EXPECT_EQ(GetOptionValue(Args({L"--pid", L"1234"}), L"--pid"), L"1234");
    EXPECT_EQ(GetOptionValue(Args({L"--file=/tmp/dumps/report"}), L"--file"), L"/tmp/dumps/report");
    EXPECT_EQ(GetOptionValue(Args({L"--file="}), L"--file"), L"");
}

TEST(OptionValueTest, LongerArgumentWithoutEqualsIsNotAMatch) {
    EXPECT_EQ(GetOptionValue(Args({L"--pidx", L"5"}), L"--pid"), L"");
    EXPECT_EQ(GetOptionValue(Args({L"--pidx", L"5", L"--pid", L"6"}), L"--pid"), L"6");
}

TEST(OptionValueTest, NameAsLastArgumentGivesNothingAndTheNextArgumentIsTakenWhatever) {
    EXPECT_EQ(GetOptionValue(Args({L"--file"}), L"--file"), L"");
    EXPECT_EQ(GetOptionValue(Args({L"--file", L"--no-video"}), L"--file"), L"--no-video");
    EXPECT_EQ(GetOptionValue(Args({}), L"--file"), L"");
}

TEST(OptionValueTest, FirstMatchingArgumentWins) {
    EXPECT_EQ(GetOptionValue(Args({L"--duration=5", L"--duration=7"}), L"--duration"), L"5");
}

TEST(FlagTest, FlagsAreFoundByPrefix) {
    EXPECT_TRUE(HasFlag(Args({L"--no-video"}), L"--no-video"));
    EXPECT_TRUE(HasFlag(Args({L"--no-videos"}), L"--no-video"));
    EXPECT_TRUE(HasFlag(Args({L"--no-video=1"}), L"--no-video"));
    EXPECT_FALSE(HasFlag(Args({L"--no-vide"}), L"--no-video"));
    EXPECT_FALSE(HasFlag(Args({L"x--no-video"}), L"--no-video"));
}

TEST(NumberTest, ConversionFollowsTheCLibrary) {
    EXPECT_EQ(WideToUnsigned(L"  42", 10), 42u);
    EXPECT_EQ(WideToUnsigned(L"+42", 10), 42u);
    EXPECT_EQ(WideToUnsigned(L"42abc", 10), 42u);
    EXPECT_EQ(WideToUnsigned(L"abc", 10), 0u);
    EXPECT_EQ(WideToUnsigned(L"", 10), 0u);
    EXPECT_EQ(WideToUnsigned(L"-1", 10), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(WideToUnsigned(L"1A4", 16), 0x1A4u);
    EXPECT_EQ(WideToUnsigned(L"0x1A4", 16), 0x1A4u);
    EXPECT_EQ(WideToUnsigned(L"420", 16), 0x420u);
    EXPECT_EQ(WideToUnsigned(L"fffffffffffffffe", 16), 0xFFFFFFFFFFFFFFFEull);
}

TEST(OptionsTest, DefaultsApply) {
    const Options options = ReadOptions(Args({}));
    EXPECT_EQ(options.pid, 0u);
    EXPECT_EQ(options.duration, 10u);
    EXPECT_EQ(options.saveEvent, nullptr);
    EXPECT_EQ(options.cancelEvent, nullptr);
    EXPECT_EQ(options.file, L"crash-report");
    EXPECT_FALSE(options.noVideo);
    EXPECT_FALSE(options.noDesktop);
    EXPECT_EQ(options.logFile, L"");
}

TEST(OptionsTest, DurationZeroMeansTheDefault) {
    EXPECT_EQ(ReadOptions(Args({L"--duration", L"0"})).duration, 10u);
    EXPECT_EQ(ReadOptions(Args({L"--duration=30"})).duration, 30u);
}

TEST(OptionsTest, NumbersKeepTheirLow32BitsAndHandlesAllBits) {
    EXPECT_EQ(ReadOptions(Args({L"--pid=4294967297"})).pid, 1u);
    EXPECT_EQ(ReadOptions(Args({L"--pid=junk"})).pid, 0u);
    const Options options = ReadOptions(Args({L"--save-event", L"1A4", L"--cancel-event=0x123456789"}));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(options.saveEvent), 0x1A4u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(options.cancelEvent), 0x123456789u);
}

TEST(OptionsTest, AudioModeIsOneOfThreeNamesAndTheWholeMixByDefault) {
    EXPECT_EQ(ReadOptions(Args({})).audio, AudioCaptureMode::System);
    EXPECT_EQ(ReadOptions(Args({L"--audio", L"system"})).audio, AudioCaptureMode::System);
    EXPECT_EQ(ReadOptions(Args({L"--audio=application"})).audio, AudioCaptureMode::Application);
    EXPECT_EQ(ReadOptions(Args({L"--audio", L"none"})).audio, AudioCaptureMode::None);
    for (const wchar_t* bad : {L"--audio=None", L"--audio=app", L"--audio=none2"}) {
        try {
            ReadOptions(Args({bad}));
            ADD_FAILURE() << "accepted " << WideToUtf8(bad);
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("--audio must be system, application or none"),
                      std::string::npos);
        }
    }
}

TEST(OptionsTest, FileAsLastArgumentFallsBackToTheDefaultName) {
    EXPECT_EQ(ReadOptions(Args({L"--file"})).file, L"crash-report");
}

TEST(OptionsTest, FileNamedLikeAFlagAlsoSetsTheFlag) {
    const Options options = ReadOptions(Args({L"--file", L"--no-video"}));
    EXPECT_EQ(options.file, L"--no-video");
    EXPECT_TRUE(options.noVideo);
}

TEST(OptionsTest, ProgramPathIsScannedToo) {
    const ArgumentList arguments{L"--no-desktop-recorder"};
    EXPECT_TRUE(ReadOptions(arguments).noDesktop);
}

} // namespace
