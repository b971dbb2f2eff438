#include "smb/smbsource.h"

#include "util/error.h"
#include "util/filebytes.h"

namespace veltrano {
namespace {

bool badName(std::string_view s)
{
    return s.empty() || s == "." || s == ".." || s.find_first_of("\\/") != std::string_view::npos;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

} // namespace

std::optional<SmbSource> parseSmbSource(std::string_view text)
{
    std::string_view rest;
    char separator = '/';
    if (text.substr(0, 6) == "smb://") {
        rest = text.substr(6);
    } else if (text.substr(0, 2) == "\\\\" && text.find('=') == std::string_view::npos) {
        rest = text.substr(2);
        separator = '\\';
    } else {
        return std::nullopt;
    }
    const size_t cut = rest.find(separator);
    SmbSource source;
    source.computer = std::string(rest.substr(0, cut));
    if (cut != std::string_view::npos) {
        std::string_view share = rest.substr(cut + 1);
        while (!share.empty() && share.back() == separator)
            share.remove_suffix(1);
        source.share = std::string(share);
    }
    // A computer given as host:port would need its own port; --port says it for all of them.
    if (badName(source.computer) || (!source.share.empty() && badName(source.share)))
        throw Error("An SMB source is smb://COMPUTER/share, smb://COMPUTER/ or "
                    "\\\\COMPUTER\\share, not: "
                + std::string(text));
    return source;
}

SmbCredentials readAuthFile(const std::filesystem::path &path)
{
    const std::optional<std::string> bytes = readFileBytes(path, 64 * 1024);
    if (!bytes)
        throw Error("Cannot read the credentials file " + path.string() + ": no such file");
    SmbCredentials credentials;
    std::string_view text = *bytes;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string_view::npos)
            continue;
        const std::string_view key = trimmed(line.substr(0, eq));
        // A password keeps its blanks: only the line's end is trimmed.
        const std::string_view value =
                key == "password" ? line.substr(eq + 1) : trimmed(line.substr(eq + 1));
        if (key == "username" || key == "user")
            credentials.user = std::string(value);
        else if (key == "password" || key == "pass")
            credentials.password = std::string(value);
        else if (key == "domain" || key == "workgroup")
            credentials.domain = std::string(value);
    }
    const size_t slash = credentials.user.find_first_of("\\/");
    if (slash != std::string::npos) {
        credentials.domain = credentials.user.substr(0, slash);
        credentials.user.erase(0, slash + 1);
    }
    if (credentials.user.empty())
        throw Error("The credentials file " + path.string() + " names no user (username=...)");
    return credentials;
}

std::string smbUrlEscape(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')
                || (b >= '0' && b <= '9') || b == '-' || b == '.' || b == '_' || b == '~'
                || b == '/';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

} // namespace veltrano
