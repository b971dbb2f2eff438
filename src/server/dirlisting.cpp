#include "server/dirlisting.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "server/ftpcommand.h"

namespace veltrano {

std::string listLocation(
        const ShareMap &shares, const ShareMap::Location &at, bool namesOnly, bool &ok)
{
    std::string out;
    ok = true;
    const auto add = [&](std::string_view name, bool folder, uint64_t size, std::time_t mtime) {
        out += namesOnly ? std::string(name) + "\r\n" : listingLine(name, folder, size, mtime);
    };
    const auto mountTime = [](const ShareMap::Share &s) {
        struct stat st
        { };
        return ::fstat(s.root.get(), &st) == 0 ? st.st_mtime : std::time_t(0);
    };
    if (at.level == ShareMap::Level::Root) {
        for (const std::string &pc : shares.computers()) {
            std::time_t newest = 0;
            for (const ShareMap::Share &s : shares.shares())
                if (shares.wire().equalsNoCase(s.computer, pc))
                    newest = std::max(newest, mountTime(s));
            add(pc, true, 0, newest);
        }
        return out;
    }
    if (at.level == ShareMap::Level::Computer) {
        for (const ShareMap::Share &s : shares.shares())
            if (shares.wire().equalsNoCase(s.computer, at.parts[0]))
                add(s.share, true, 0, mountTime(s));
        return out;
    }
    const int fd = shares.openBeneath(at, O_RDONLY);
    if (fd < 0) {
        ok = false;
        return out;
    }
    struct stat st
    { };
    if (::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) { // a file lists as itself
        add(at.parts.back(), false, uint64_t(st.st_size), st.st_mtime);
        ::close(fd);
        return out;
    }
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        ok = false;
        return out;
    }
    std::vector<std::pair<std::string, struct stat>> entries;
    while (const dirent *e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name == "." || name == ".." || name.find_first_of("\r\n") != std::string_view::npos)
            continue;
        // A name the wire's code page cannot carry could never be asked for again.
        const auto wire = shares.wire().fromUtf8(name);
        if (!wire)
            continue;
        struct stat es
        { };
        if (::fstatat(::dirfd(dir), e->d_name, &es, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISLNK(es.st_mode)) {
            // A link is shown as what it leads to, and not at all when that is outside the share.
            ShareMap::Location link = at;
            link.relative += "/" + std::string(name);
            const int target = shares.openBeneath(link, O_PATH);
            const bool inside = target >= 0 && ::fstat(target, &es) == 0;
            if (target >= 0)
                ::close(target);
            if (!inside)
                continue;
        }
        entries.emplace_back(*wire, es);
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
        return a.first < b.first;
    });
    for (const auto &[name, es] : entries)
        add(name, S_ISDIR(es.st_mode), uint64_t(es.st_size), es.st_mtime);
    return out;
}

} // namespace veltrano
