#pragma once
// The low-level report channel of the capture sources: (kind, code, hr, text) to one installed slot.
// A slot uninstalls itself when it is destroyed, so a report made after that is dropped, never delivered.

#include "Logger.h"
#include <minwindef.h>

#include <cstdint>
#include <functional>

class ErrorSink {
public:
    static constexpr int KindNotice = 0;
    static constexpr int KindError = 1;

    using Callback = std::function<void(int kind, std::uint32_t code, HRESULT hr, const char* text)>;

    class Slot {
    public:
        explicit Slot(Callback callback) : m_callback(std::move(callback)) {}
        ~Slot();
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;

    private:
        friend class ErrorSink;
        Callback m_callback;
    };

    static void install(Slot* slot);
    static void report(std::uint32_t code, HRESULT hr, const char* format, ...) PYX_PRINTF_FORMAT(3, 4);
    static void reportFailure(std::uint32_t code, const char* format, ...) PYX_PRINTF_FORMAT(2, 3);
    static void notice(std::uint32_t code, HRESULT hr, const char* format, ...) PYX_PRINTF_FORMAT(3, 4);

private:
    static void Deliver(int kind, std::uint32_t code, HRESULT hr, const char* text);
    static void Uninstall(Slot* slot);
};
