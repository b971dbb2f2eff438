#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "util/codepage.h"
#include "util/filehandle.h"

namespace veltrano {

// The server's file system: the UNC tree of its shares. The root holds one folder per
// computer, a computer one folder per share, and a share is the folder it is mounted on.
// Clients name paths in wire bytes with '/' or '\' between the parts, absolute (from the root,
// "\\PC\share\dir" or "/PC/share/dir") or relative to their current folder.
//
// Confinement: "." and ".." move inside the tree only, so no path names anything above a
// share's mount point; every file is opened beneath the mount point's own descriptor with the
// kernel refusing any step (a "..", an absolute or a symbolic link) that would lead out of it.
// Separators are found character by character, so a Big5 trail byte 0x5C never splits a name.
//
// Immutable after load; safe to share between threads.
class ShareMap
{
public:
    struct Share
    {
        std::string computer; // wire bytes, as the shares file spells it
        std::string share; // wire bytes
        std::filesystem::path mount;
        FileHandle root; // the mount point, opened once
    };

    // Reads "\\PC\share=/mount/point" lines (UTF-8; blank lines and lines starting with '#' or
    // ';' are passed over). Throws Error naming the line of a wrong form, a share named twice, a
    // name the wire code page cannot hold, or a mount point that cannot be opened.
    static ShareMap load(const std::filesystem::path &file, const CodePage &wire);
    static ShareMap parse(std::string_view text, const CodePage &wire);

    const std::vector<Share> &shares() const { return m_shares; }
    const CodePage &wire() const { return m_wire; }
    // The computers in the order of the file, each once.
    std::vector<std::string> computers() const;

    // Where a path leads. Parts are wire bytes; `parts` of the current folder come from an
    // earlier resolve().
    enum class Level {
        Root,
        Computer,
        Share
    };
    struct Location
    {
        Level level = Level::Root;
        std::vector<std::string> parts; // computer, share, then the parts below the mount point
        int share = -1; // index in shares() at the Share level
        std::string relative; // below the mount point: UTF-8, '/' between parts, or "."
    };
    enum class Fault {
        None,
        Outside,
        Invalid
    };
    // Resolves `path` from `cwd`. Outside: names a computer or share that is not served.
    // Invalid: bytes no file name may hold (NUL) or that the wire code page cannot read.
    Fault resolve(const std::vector<std::string> &cwd, std::string_view path, Location &out) const;

    // Opens a location below a share with `flags` (O_RDONLY, O_DIRECTORY, O_PATH, ...).
    // -1 with errno set on failure; EXDEV when the path would lead out of the share.
    int openBeneath(const Location &at, int flags) const;

    // The path of a location as PWD shows it: "/PC/share/dir".
    static std::string display(const std::vector<std::string> &parts);

private:
    explicit ShareMap(CodePage wire)
        : m_wire(std::move(wire))
    { }
    int findComputer(std::string_view name) const;
    int findShare(std::string_view computer, std::string_view share) const;

    CodePage m_wire;
    std::vector<Share> m_shares;
};

// CHECKEXIST's answer for a path, and what each code means.
enum class ExistCode {
    Readable = 800, // a file or folder in a share that the server can read
    Missing = 810, // nothing of that name in the share
    Outside = 820, // not inside any share (or leads out of one)
    Denied = 830, // there, but the server may not read it
    Failed = 840 // anything else: bytes no name may hold, a system failure
};
ExistCode checkExist(
        const ShareMap &shares, const std::vector<std::string> &cwd, std::string_view path);

// ExistCode of an errno from openBeneath.
ExistCode existCodeOfErrno(int error);

} // namespace veltrano
