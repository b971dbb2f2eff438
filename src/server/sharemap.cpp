#include "server/sharemap.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fmt/format.h>

#include "cache/collector.h"
#include "util/error.h"
#include "util/filebytes.h"

namespace veltrano {
namespace {

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The parts of a path with "." and ".." applied. A leading separator, or a run of two or more
// backslashes anywhere, starts again from the root: a client that puts a full UNC path after
// its current folder means the UNC path.
void applyPath(std::string_view path, const CodePage &cp, std::vector<std::string> &parts)
{
    size_t i = 0;
    std::string part;
    const auto endPart = [&] {
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    };
    while (i < path.size()) {
        const char c = path[i];
        if (isSeparator(c)) {
            endPart();
            size_t backslashes = 0;
            const size_t start = i;
            while (i < path.size() && isSeparator(path[i]))
                backslashes += path[i++] == '\\';
            if (start == 0 || backslashes >= 2)
                parts.clear();
            continue;
        }
        const size_t n = cp.charLength(path.data() + i, path.data() + path.size());
        part.append(path.substr(i, n));
        i += n;
    }
    endPart();
}

long openat2Call(int dirfd, const char *path, open_how *how)
{
    return ::syscall(SYS_openat2, dirfd, path, how, sizeof *how);
}

// Where the kernel has no openat2 (or a filter forbids it): resolve the path and check that it
// still lies below the mount point; the target itself is opened without following a link.
int openCheckedByName(int rootFd, const std::string &relative, int flags)
{
    char rootPath[PATH_MAX];
    char target[PATH_MAX];
    const std::string self = fmt::format("/proc/self/fd/{}", rootFd);
    const ssize_t n = ::readlink(self.c_str(), rootPath, sizeof rootPath - 1);
    if (n <= 0)
        return -1;
    rootPath[n] = '\0';
    const std::string full = std::string(rootPath) + "/" + relative;
    if (!::realpath(full.c_str(), target))
        return -1;
    const std::string_view root(rootPath);
    const std::string_view resolved(target);
    if (resolved != root
            && !(resolved.size() > root.size() && resolved.substr(0, root.size()) == root
                    && (root == "/" || resolved[root.size()] == '/'))) {
        errno = EXDEV;
        return -1;
    }
    return ::open(target, flags | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

ShareMap ShareMap::load(const std::filesystem::path &file, const CodePage &wire)
{
    const std::optional<std::string> bytes = readFileBytes(file, 1 << 20);
    if (!bytes)
        throw Error(fmt::format("No shares file {}", file.string()));
    return parse(*bytes, wire);
}

ShareMap ShareMap::parse(std::string_view text, const CodePage &wire)
{
    ShareMap map(wire);
    int lineNumber = 0;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        ++lineNumber;
        while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ')
            line.remove_suffix(1);
        while (!line.empty() && static_cast<unsigned char>(line.front()) <= ' ')
            line.remove_prefix(1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        ShareSpec spec;
        try {
            spec = parseShareSpec(line);
        } catch (const Error &e) {
            throw Error(fmt::format("Shares file, line {}: {}", lineNumber, e.what()));
        }
        const auto computer = wire.fromUtf8(spec.computer);
        const auto share = wire.fromUtf8(spec.share);
        if (!computer || !share)
            throw Error(fmt::format("Shares file, line {}: the code page {} cannot hold \"{}\"",
                    lineNumber, wire.name(), line));
        if (map.findShare(*computer, *share) >= 0)
            throw Error(fmt::format("Shares file, line {}: \\\\{}\\{} is named twice", lineNumber,
                    spec.computer, spec.share));
        const int fd = ::open(spec.local.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            throw Error(fmt::format("Shares file, line {}: cannot open {}: {}", lineNumber,
                    spec.local.string(), std::strerror(errno)));
        map.m_shares.push_back(Share{*computer, *share, spec.local, FileHandle(fd)});
    }
    return map;
}

std::vector<std::string> ShareMap::computers() const
{
    std::vector<std::string> names;
    for (const Share &s : m_shares) {
        bool seen = false;
        for (const std::string &n : names)
            seen = seen || m_wire.equalsNoCase(n, s.computer);
        if (!seen)
            names.push_back(s.computer);
    }
    return names;
}

int ShareMap::findComputer(std::string_view name) const
{
    for (size_t i = 0; i < m_shares.size(); ++i)
        if (m_wire.equalsNoCase(m_shares[i].computer, name))
            return int(i);
    return -1;
}

int ShareMap::findShare(std::string_view computer, std::string_view share) const
{
    for (size_t i = 0; i < m_shares.size(); ++i)
        if (m_wire.equalsNoCase(m_shares[i].computer, computer)
                && m_wire.equalsNoCase(m_shares[i].share, share))
            return int(i);
    return -1;
}

ShareMap::Fault ShareMap::resolve(
        const std::vector<std::string> &cwd, std::string_view path, Location &out) const
{
    if (path.find('\0') != std::string_view::npos)
        return Fault::Invalid;
    std::vector<std::string> parts = cwd;
    applyPath(path, m_wire, parts);
    out = Location{};
    if (parts.empty())
        return Fault::None;
    const int computer = findComputer(parts[0]);
    if (computer < 0)
        return Fault::Outside;
    parts[0] = m_shares[size_t(computer)].computer;
    out.level = Level::Computer;
    if (parts.size() == 1) {
        out.parts = std::move(parts);
        return Fault::None;
    }
    out.share = findShare(parts[0], parts[1]);
    if (out.share < 0)
        return Fault::Outside;
    parts[1] = m_shares[size_t(out.share)].share;
    out.level = Level::Share;
    out.relative.clear();
    for (size_t i = 2; i < parts.size(); ++i) {
        const std::string utf8 = m_wire.toUtf8(parts[i]);
        if (m_wire.fromUtf8(utf8) != parts[i] || utf8.find('/') != std::string::npos || utf8 == "."
                || utf8 == "..")
            return Fault::Invalid;
        if (!out.relative.empty())
            out.relative += '/';
        out.relative += utf8;
    }
    if (out.relative.empty())
        out.relative = ".";
    out.parts = std::move(parts);
    return Fault::None;
}

int ShareMap::openBeneath(const Location &at, int flags) const
{
    if (at.level != Level::Share || at.share < 0) {
        errno = EXDEV;
        return -1;
    }
    const int root = m_shares[size_t(at.share)].root.get();
    open_how how{};
    how.flags = uint64_t(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long fd = openat2Call(root, at.relative.c_str(), &how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
        return int(fd);
    return openCheckedByName(root, at.relative, flags);
}

std::string ShareMap::display(const std::vector<std::string> &parts)
{
    if (parts.empty())
        return "/";
    std::string text;
    for (const std::string &part : parts)
        text += "/" + part;
    return text;
}

ExistCode existCodeOfErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP: // a link that goes nowhere
        return ExistCode::Missing;
    case EXDEV:
        return ExistCode::Outside;
    case EACCES:
    case EPERM:
        return ExistCode::Denied;
    default:
        return ExistCode::Failed;
    }
}

ExistCode checkExist(
        const ShareMap &shares, const std::vector<std::string> &cwd, std::string_view path)
{
    ShareMap::Location at;
    switch (shares.resolve(cwd, path, at)) {
    case ShareMap::Fault::Outside:
        return ExistCode::Outside;
    case ShareMap::Fault::Invalid:
        return ExistCode::Failed;
    case ShareMap::Fault::None:
        break;
    }
    if (at.level != ShareMap::Level::Share)
        return ExistCode::Outside;
    const int fd = shares.openBeneath(at, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return existCodeOfErrno(errno);
    ::close(fd);
    return ExistCode::Readable;
}

} // namespace veltrano
