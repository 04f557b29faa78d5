#include "ErrorSink.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

// Guards the installed slot during delivery, so a slot cannot go away while its callback runs.
std::mutex g_slotMutex;
ErrorSink::Slot* g_slot = nullptr;

} // namespace

#define PYX_FORMAT_SINK_TEXT(text, format)                                                                   \
    char text[Logger::MessageSize] = "";                                                                     \
    if (format != nullptr) {                                                                                 \
        va_list args;                                                                                        \
        va_start(args, format);                                                                              \
        std::vsnprintf(text, sizeof(text), format, args);                                                    \
        va_end(args);                                                                                        \
    }

ErrorSink::Slot::~Slot() { ErrorSink::Uninstall(this); }

void ErrorSink::install(Slot* slot) {
    std::lock_guard lock(g_slotMutex);
    g_slot = slot;
}

void ErrorSink::Uninstall(Slot* slot) {
    std::lock_guard lock(g_slotMutex);
    if (g_slot == slot)
        g_slot = nullptr;
}

void ErrorSink::Deliver(int kind, std::uint32_t code, HRESULT hr, const char* text) {
    std::lock_guard lock(g_slotMutex);
    if (g_slot != nullptr && g_slot->m_callback)
        g_slot->m_callback(kind, code, hr, text);
}

void ErrorSink::report(std::uint32_t code, HRESULT hr, const char* format, ...) {
    PYX_FORMAT_SINK_TEXT(text, format)
    Deliver(KindError, code, hr, text);
}

void ErrorSink::reportFailure(std::uint32_t code, const char* format, ...) {
    PYX_FORMAT_SINK_TEXT(text, format)
    Deliver(KindError, code, E_FAIL, text);
}

void ErrorSink::notice(std::uint32_t code, HRESULT hr, const char* format, ...) {
    PYX_FORMAT_SINK_TEXT(text, format)
    Deliver(KindNotice, code, hr, text);
}
