#include "DemoOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

const char* const kDemoSynopsis =
    "usage: pyx-demo-target [--size WxH] [--fps N] [--tone HZ] [--iconify-every S] [--iconified-for S]\n"
    "                       [--frames N] [--still | --changing WxH]\n";

const char* const kDemoHelp =
    "  --size WxH          window size (default 640x360)\n"
    "  --fps N             frames drawn per second (default 60)\n"
    "  --tone HZ           play a sine of HZ on the default sound sink (default: no sound)\n"
    "  --iconify-every S   iconify the window every S seconds (fractions allowed)\n"
    "  --iconified-for S   stay iconified for S seconds each time (default 1)\n"
    "  --frames N          exit after N frames (default: until SIGTERM or SIGINT)\n"
    "  --still             draw one frame (number 1) and keep it: a window that never changes\n"
    "  --changing WxH      after the first frame redraw only the number squares and a WxH area at the\n"
    "                      top-left: a mostly static window\n"
    "Prints \"ready 0xID\" once the window shows its first frame, then \"iconified\" and \"restored\".\n"
    "Exit status 2 on a bad argument, without a display, or when the tone cannot play.\n";

namespace {

bool ParseNumber(const std::string& text, double* value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(*value);
}

bool ParseCount(const std::string& text, std::uint64_t min, std::uint64_t max, std::uint64_t* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18)
        return false;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return *value >= min && *value <= max;
}

bool ParseSize(const std::string& text, std::uint16_t* width, std::uint16_t* height) {
    const auto x = text.find('x');
    std::uint64_t w = 0, h = 0;
    if (x == std::string::npos || !ParseCount(text.substr(0, x), 1, 16384, &w) ||
        !ParseCount(text.substr(x + 1), 1, 16384, &h))
        return false;
    *width = static_cast<std::uint16_t>(w);
    *height = static_cast<std::uint16_t>(h);
    return true;
}

} // namespace

std::string ParseDemoOptions(const std::vector<std::string>& args, DemoOptions* options) {
    bool iconifiedForGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            options->help = true;
            continue;
        }
        if (name == "--still" && !hasValue) {
            options->still = true;
            continue;
        }
        if (name != "--size" && name != "--fps" && name != "--tone" && name != "--iconify-every" &&
            name != "--iconified-for" && name != "--frames" && name != "--changing")
            return "unknown argument " + args[i];
        if (!hasValue) {
            if (i + 1 == args.size())
                return name + " needs a value";
            value = args[++i];
        }
        double number = 0;
        if (name == "--size") {
            if (!ParseSize(value, &options->width, &options->height))
                return "--size wants WxH, each 1 to 16384, not '" + value + "'";
        } else if (name == "--changing") {
            if (!ParseSize(value, &options->changingWidth, &options->changingHeight))
                return "--changing wants WxH, each 1 to 16384, not '" + value + "'";
        } else if (name == "--fps") {
            if (!ParseNumber(value, &number) || number <= 0 || number > 1000)
                return "--fps wants a number above 0 and at most 1000, not '" + value + "'";
            options->fps = number;
        } else if (name == "--tone") {
            if (!ParseNumber(value, &number) || number <= 0 || number >= 24000)
                return "--tone wants a frequency above 0 and below 24000 Hz, not '" + value + "'";
            options->toneHz = number;
        } else if (name == "--iconify-every") {
            if (!ParseNumber(value, &number) || number <= 0)
                return "--iconify-every wants seconds above 0, not '" + value + "'";
            options->iconifyEvery = number;
        } else if (name == "--iconified-for") {
            if (!ParseNumber(value, &number) || number <= 0)
                return "--iconified-for wants seconds above 0, not '" + value + "'";
            options->iconifiedFor = number;
            iconifiedForGiven = true;
        } else if (!ParseCount(value, 1, UINT64_MAX, &options->frames)) {
            return "--frames wants a whole number above 0, not '" + value + "'";
        }
    }
    if (options->still && options->changingWidth != 0)
        return "--still and --changing exclude each other";
    if (iconifiedForGiven && options->iconifyEvery == 0)
        return "--iconified-for needs --iconify-every";
    if (options->iconifyEvery > 0 && options->iconifiedFor >= options->iconifyEvery)
        return "--iconified-for must be shorter than --iconify-every";
    return {};
}
