#pragma once
// The exception of the throwing HRESULT check: the failed call's text followed by " failed", and the result.

#include <minwindef.h>

#include <exception>
#include <string>

class ComException : public std::exception {
public:
    ComException(std::string message, HRESULT hr, std::string file = "", int line = 0);

    const char* what() const noexcept override { return m_message.c_str(); }
    HRESULT Error() const noexcept { return m_hr; }
    const std::string& File() const noexcept { return m_file; }
    int Line() const noexcept { return m_line; }

    // One ERROR line with message, result and source location.
    void Log() const;

private:
    std::string m_message;
    HRESULT m_hr;
    std::string m_file;
    int m_line;
};
