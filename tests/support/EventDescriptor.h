#pragma once
// An eventfd handed to a recorder as its save or cancel event: "--save-event" takes HandleValue().

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>

class EventDescriptor {
public:
    EventDescriptor() : m_fd(::eventfd(0, EFD_CLOEXEC)) {}
    ~EventDescriptor() { ::close(m_fd); }
    EventDescriptor(const EventDescriptor&) = delete;
    EventDescriptor& operator=(const EventDescriptor&) = delete;

    int Fd() const { return m_fd; }
    std::string HandleValue() const {
        char text[32];
        std::snprintf(text, sizeof(text), "0x%x", m_fd);
        return text;
    }
    void Signal() const {
        const std::uint64_t one = 1;
        ASSERT_EQ(::write(m_fd, &one, sizeof(one)), static_cast<ssize_t>(sizeof(one)));
    }

private:
    int m_fd;
};
