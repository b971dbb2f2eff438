#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// A source the collector reads over SMB: one share, or every disk share of a computer.
struct SmbSource
{
    std::string computer; // UTF-8, as the user wrote it (a name or an address)
    std::string share; // UTF-8; empty = every disk share of the computer
};

// Reads smb://PC1/docs, smb://PC1/ (every share), \\PC1\docs; nullopt for anything that is not
// one of these (a mounted-share text "\\PC1\docs=/mnt/x" among them). Throws Error for a text
// that starts like an SMB source but is malformed, so a typing slip is not taken for a path.
std::optional<SmbSource> parseSmbSource(std::string_view text);

// Who to log on as. An empty user is a guest (anonymous) logon.
struct SmbCredentials
{
    std::string user;
    std::string password;
    std::string domain;
};

// Reads the credentials file that smbclient -A and mount.cifs read: lines username=,
// password=, domain= (workgroup= too); a user written DOMAIN\user or DOMAIN/user carries the
// domain. Blank lines and lines starting with # are skipped. Throws Error when the file cannot
// be read or names no user.
SmbCredentials readAuthFile(const std::filesystem::path &path);

// The text as a path of an smb:// URL: every byte outside the unreserved set is %-escaped, so
// names holding %, # or ? reach the server as they are.
std::string smbUrlEscape(std::string_view text);

} // namespace veltrano
