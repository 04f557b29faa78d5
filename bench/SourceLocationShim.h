#pragma once
// clang 14 lacks the builtin that libstdc++ 12's std::source_location is made of, so that header declares
// nothing for it; the fuzz build (scripts/fuzz-ring) includes this first to supply the type from the older
// builtins. Any compiler with the real thing skips it.

#include <source_location>

#if defined(__clang__) && !defined(__cpp_lib_source_location)
#include <cstdint>

namespace std {

struct source_location {
    static constexpr source_location current(const char* file = __builtin_FILE(),
                                             const char* function = __builtin_FUNCTION(),
                                             uint_least32_t line = __builtin_LINE(),
                                             uint_least32_t column = __builtin_COLUMN()) noexcept {
        source_location location;
        location.m_file = file;
        location.m_function = function;
        location.m_line = line;
        location.m_column = column;
        return location;
    }
    constexpr source_location() noexcept = default;
    constexpr uint_least32_t line() const noexcept { return m_line; }
    constexpr uint_least32_t column() const noexcept { return m_column; }
    constexpr const char* file_name() const noexcept { return m_file; }
    constexpr const char* function_name() const noexcept { return m_function; }

private:
    const char* m_file = "";
    const char* m_function = "";
    uint_least32_t m_line = 0;
    uint_least32_t m_column = 0;
};

} // namespace std
#endif
