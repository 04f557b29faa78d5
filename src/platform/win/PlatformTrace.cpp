#include <pyx/PlatformTrace.h>

#include <debugapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace {

std::string Demangled(const char* name) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && readable ? readable.get() : name;
}

std::string Text(REFIID riid) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", riid.Data1,
                  riid.Data2, riid.Data3, riid.Data4[0], riid.Data4[1], riid.Data4[2], riid.Data4[3],
                  riid.Data4[4], riid.Data4[5], riid.Data4[6], riid.Data4[7]);
    return text;
}

std::string Place(const std::source_location& where) {
    return std::string(where.function_name()) + " (" + where.file_name() + ":" +
           std::to_string(where.line()) + ")";
}

// Writes the line the first time its key is seen. Never destroyed: platform threads may trace at exit.
void TraceOnce(const std::string& key, const std::string& line) {
    static auto* const mutex = new std::mutex;
    static auto* const seen = new std::set<std::string>;
    {
        std::lock_guard lock(*mutex);
        if (!seen->insert(key).second)
            return;
    }
    OutputDebugStringA(("platform trace: " + line + "\n").c_str());
}

// Once per place and reason.
void TraceFailedCall(const std::source_location& where, const std::string& why) {
    const std::string place = Place(where);
    TraceOnce(place + why, place + " failed: " + why);
}

} // namespace

bool PlatformTraceEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("PYX_PLATFORM_TRACE");
        return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

void TraceException(const std::source_location& where, const char* what) {
    if (PlatformTraceEnabled())
        TraceFailedCall(where, what);
}

void TraceFailure(const std::source_location& where, HRESULT hr) {
    if (!PlatformTraceEnabled())
        return;
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08x", static_cast<unsigned>(hr));
    TraceFailedCall(where, code);
}

void TraceUnknownInterface(const std::type_info& object, REFIID riid) {
    if (!PlatformTraceEnabled())
        return;
    const std::string type = Demangled(object.name());
    const std::string iid = Text(riid);
    TraceOnce(type + iid, type + " does not implement interface " + iid);
}

HRESULT NotImplemented(const std::source_location& where) {
    if (PlatformTraceEnabled()) {
        const std::string place = Place(where);
        TraceOnce(place, place + " is not implemented");
    }
    return E_NOTIMPL;
}
