#include "ComException.h"

#include "Logger.h"

#include <utility>

ComException::ComException(std::string message, HRESULT hr, std::string file, int line)
    : m_message(std::move(message)), m_hr(hr), m_file(std::move(file)), m_line(line) {}

void ComException::Log() const {
    LogError("ComException: %s. HR: 0x%08lx\n%s(%d)", m_message.c_str(),
             static_cast<unsigned long>(static_cast<std::uint32_t>(m_hr)), m_file.c_str(), m_line);
}
