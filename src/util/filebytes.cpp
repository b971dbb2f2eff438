#include "util/filebytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "util/error.h"
#include "util/resstr.h"

namespace veltrano {

namespace {

[[noreturn]] void fail(const std::filesystem::path &path, int code)
{
    throw Error(path.string() + ": " + ErrorText(code));
}

// Closes a descriptor on every way out of a scope.
class FileHandle
{
public:
    explicit FileHandle(int fd)
        : m_fd(fd)
    {
    }
    ~FileHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;

    int get() const { return m_fd; }
    // Closes now and reports the outcome (a delayed write error may show only here).
    int close()
    {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

// A name beside the target that no other writer of this process or another one picks.
std::filesystem::path temporaryNameFor(const std::filesystem::path &path)
{
    static std::atomic<unsigned> counter {0};
    std::filesystem::path temp = path;
    temp += ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    return temp;
}

} // namespace

std::optional<std::string> readFileBytes(const std::filesystem::path &path, size_t limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        fail(path, errno);
    }
    FileHandle file(fd);
    std::string bytes;
    char buffer[8192];
    while (bytes.size() < limit) {
        const size_t want = std::min(sizeof buffer, limit - bytes.size());
        const ssize_t n = ::read(fd, buffer, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(path, errno);
        }
        if (n == 0)
            break;
        bytes.append(buffer, size_t(n));
    }
    return bytes;
}

void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes, mode_t mode)
{
    std::filesystem::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = temporaryNameFor(path);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            fail(path, errno);
    }
    if (fd < 0)
        fail(path, EEXIST);

    FileHandle file(fd);
    int code = 0;
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0)
        code = errno;
    if (file.close() != 0 && code == 0)
        code = errno;
    if (code == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        code = errno;
    if (code != 0) {
        ::unlink(temp.c_str());
        fail(path, code);
    }
}

void removeFileIfExists(const std::filesystem::path &path)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        fail(path, errno);
}

} // namespace veltrano
