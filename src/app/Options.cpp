#include "Options.h"

#include "ExitStatus.h"
#include "Util/Logger.h"
#include <stringapiset.h>

#include <array>
#include <cwctype>
#include <limits>
#include <set>
#include <string_view>

namespace {

constexpr std::array<std::pair<AudioCaptureMode, std::string_view>, 3> AudioModes{{
    {AudioCaptureMode::System, "system"},
    {AudioCaptureMode::Application, "application"},
    {AudioCaptureMode::None, "none"},
}};

AudioCaptureMode AudioModeOf(const std::wstring& value) {
    const std::string text = WideToUtf8(value);
    for (const auto& [mode, name] : AudioModes)
        if (text == name)
            return mode;
    throw CommandLineError("is not system, application or none");
}

struct OptionRow {
    std::wstring_view name;
    const char* valueName; // null for a flag
    const char* help;
    void (*apply)(Options& options, const std::wstring& value);
};

std::uint32_t Decimal32(const std::wstring& value) {
    std::uint64_t number = 0;
    for (const wchar_t c : value) {
        if (c < L'0' || c > L'9')
            throw CommandLineError("is not a whole number");
        number = number * 10 + static_cast<std::uint64_t>(c - L'0');
        if (number > std::numeric_limits<std::uint32_t>::max())
            throw CommandLineError("is out of range (0 to 4294967295)");
    }
    if (value.empty())
        throw CommandLineError("is not a whole number");
    return static_cast<std::uint32_t>(number);
}

HANDLE Handle(const std::wstring& value) {
    std::wstring_view digits = value;
    if (digits.starts_with(L"0x") || digits.starts_with(L"0X"))
        digits.remove_prefix(2);
    if (digits.empty() || digits.size() > 16)
        throw CommandLineError("is not a hexadecimal handle value");
    std::uint64_t number = 0;
    for (const wchar_t c : digits) {
        if (!std::iswxdigit(static_cast<wint_t>(c)))
            throw CommandLineError("is not a hexadecimal handle value");
        number =
            number * 16 + static_cast<std::uint64_t>(c <= L'9' ? c - L'0' : (std::towlower(c) - L'a' + 10));
    }
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
}

// One row per option; a new option is one more row (and its field in Options).
constexpr auto OptionTable = std::to_array<OptionRow>({
    {L"--pid", "PID", "process id of the application to record",
     [](Options& o, const std::wstring& v) {
         o.pid = Decimal32(v);
     }},
    {L"--duration", "SECONDS", "seconds of history per ring segment, at most 21600; 0 or absent: 10",
     [](Options& o, const std::wstring& v) {
         o.duration = Decimal32(v);
         if (o.duration > Options::MaxDuration)
             throw CommandLineError("is out of range (0 to 21600)");
     }},
    {L"--save-event", "HANDLE", "inherited eventfd (hexadecimal descriptor): readable means save",
     [](Options& o, const std::wstring& v) {
         o.saveEvent = Handle(v);
     }},
    {L"--cancel-event", "HANDLE",
     "inherited eventfd (hexadecimal descriptor): readable means stop without saving",
     [](Options& o, const std::wstring& v) {
         o.cancelEvent = Handle(v);
     }},
    {L"--file", "NAME", "base name of the ring files, NAME.mp4 and NAME.jpg; default crash-report",
     [](Options& o, const std::wstring& v) {
         o.file = v;
     }},
    {L"--no-video", nullptr, "record no video, only the still image NAME.jpg",
     [](Options& o, const std::wstring&) {
         o.noVideo = true;
     }},
    {L"--no-desktop", nullptr, "record nothing while the application shows no window",
     [](Options& o, const std::wstring&) {
         o.noDesktop = true;
     }},
    {L"--audio", "MODE", "sound to record: system (default), application (the target's process tree), none",
     [](Options& o, const std::wstring& v) {
         o.audio = AudioModeOf(v);
     }},
    {L"--custom-codecs", nullptr, "offer the built-in NVIDIA, Intel and AMD hardware encoders first",
     [](Options& o, const std::wstring&) {
         o.customCodecs = true;
     }},
    {L"--log", "PATH", "also append every log line to PATH (a regular file)",
     [](Options& o, const std::wstring& v) {
         o.logFile = v;
     }},
    {L"--help", nullptr, "print this text and exit",
     [](Options& o, const std::wstring&) {
         o.help = true;
     }},
    {L"--version", nullptr, "print the version and exit",
     [](Options& o, const std::wstring&) {
         o.version = true;
     }},
});

[[noreturn]] void Refuse(std::wstring_view argument, const std::string& why) {
    throw CommandLineError("'" + WideToUtf8(std::wstring(argument)) + "' " + why);
}

} // namespace

Options ReadOptions(const ArgumentList& arguments) {
    Options options;
    std::set<std::wstring_view> seen;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring_view argument = arguments[i];
        const std::size_t equals = argument.find(L'=');
        const std::wstring_view name = argument.substr(0, equals);
        const OptionRow* row = nullptr;
        for (const OptionRow& candidate : OptionTable)
            if (candidate.name == name)
                row = &candidate;
        if (row == nullptr)
            Refuse(argument, argument.starts_with(L"-") ? "is not an option (see --help)"
                                                        : "is not expected (see --help)");
        if (!seen.insert(row->name).second)
            Refuse(name, "is given more than once");
        std::wstring value;
        if (row->valueName == nullptr) {
            if (equals != std::wstring_view::npos)
                Refuse(argument, "takes no value");
        } else if (equals != std::wstring_view::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            Refuse(name, std::string("needs a value: ") + row->valueName);
        }
        try {
            row->apply(options, value);
        } catch (const CommandLineError& e) {
            Refuse(name, "value '" + WideToUtf8(value) + "' " + e.what());
        }
    }
    if (options.file.empty())
        options.file = Options::DefaultFile;
    if (options.duration == 0)
        options.duration = Options::DefaultDuration;
    return options;
}

const char* AudioModeName(AudioCaptureMode mode) {
    for (const auto& [known, name] : AudioModes)
        if (known == mode)
            return name.data();
    return "system";
}

void LogStartLine(const Options& options) {
    LogInfo("pyx-video: pid='%u' duration='%u' %s %s", options.pid, options.duration,
            options.noVideo ? "--no-video" : "", options.noDesktop ? "--no-desktop" : "");
}

void PrintUsage(std::FILE* out) {
    std::fputs(
        "usage: pyx-video --pid=PID [--duration=SECONDS] [--save-event=HANDLE] [--cancel-event=HANDLE]\n"
        "                 [--file=NAME] [--no-video] [--no-desktop] [--audio=MODE]\n"
        "                 [--custom-codecs] [--log=PATH]\n"
        "       pyx-video --export NAME\n"
        "Records the window of process PID (or the screen) with its sound into a ring of files\n"
        "beside NAME; on save writes NAME.mp4 and NAME.jpg. --export NAME turns the ring files a recorder\n"
        "left behind into NAME.mp4.\n\nOptions:\n",
        out);
    for (const OptionRow& row : OptionTable) {
        std::string left = WideToUtf8(std::wstring(row.name));
        if (row.valueName != nullptr)
            left += std::string("=") + row.valueName;
        std::fprintf(out, "  %-22s %s\n", left.c_str(), row.help);
    }
    std::fputs(
        "\nEvents and signals:\n"
        "  save event, SIGUSR1       save the last minutes into NAME.mp4 and exit\n"
        "  cancel event, SIGTERM,    stop without saving\n"
        "  SIGINT\n"
        "  the application's exit    save, as for the save event\n"
        "\nOne recorder or export per NAME: it locks NAME's lock file (beside the ring files) for its\n"
        "whole run; a second one on the same NAME exits with status 4 and touches nothing.\n\n",
        out);
    PrintExitStatusTable(out);
}
