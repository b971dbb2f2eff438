#pragma once

#include <unistd.h>

#include <utility>

namespace veltrano {

// Owns an open file descriptor and closes it once.
class FileHandle
{
public:
    FileHandle() = default;
    explicit FileHandle(int fd)
        : m_fd(fd)
    {
    }
    ~FileHandle() { reset(); }
    FileHandle(FileHandle &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    FileHandle &operator=(FileHandle &&other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

} // namespace veltrano
