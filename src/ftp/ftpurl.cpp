#include "ftp/ftpurl.h"

#include "ftp/ftpreply.h"
#include "util/error.h"

namespace veltrano {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string FtpUrl::folder(bool withLast) const
{
    std::string text;
    const size_t count = withLast || path.empty() ? path.size() : path.size() - 1;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += '/';
        text += path[i];
    }
    return text;
}

std::string percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        // The text may be a password: the message names no part of it.
        if (low < 0)
            throw Error("Invalid percent escape");
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string redactFtpUrl(std::string_view url)
{
    const size_t scheme = url.find("://");
    const size_t begin = scheme == std::string_view::npos ? 0 : scheme + 3;
    const size_t slash = url.find('/', begin);
    const size_t end = slash == std::string_view::npos ? url.size() : slash;
    const size_t at = url.substr(0, end).rfind('@');
    if (at == std::string_view::npos || at < begin)
        return std::string(url);
    const size_t colon = url.substr(0, at).find(':', begin);
    if (colon == std::string_view::npos)
        return std::string(url);
    return std::string(url.substr(0, colon + 1)) + "****" + std::string(url.substr(at));
}

namespace {

// Decodes one part of the address; a fault names the part and shows the address without its
// password.
std::string decodePart(std::string_view text, const char *part, std::string_view url)
{
    std::string decoded;
    try {
        decoded = percentDecode(text);
    } catch (const Error &e) {
        throw Error(std::string(e.what()) + " in the " + part + " of " + redactFtpUrl(url));
    }
    // Each part ends up in a command line: an encoded line break would start a command of its
    // own, and a NUL would cut the name short.
    if (holdsLineBreakOrNul(decoded))
        throw Error(std::string("Line break or NUL character in the ") + part + " of "
                + redactFtpUrl(url));
    return decoded;
}

} // namespace

FtpUrl parseFtpUrl(std::string_view url)
{
    constexpr std::string_view scheme = "ftp://";
    if (url.size() < scheme.size() || url.substr(0, scheme.size()) != scheme)
        throw Error("Not an ftp:// address: " + redactFtpUrl(url));
    std::string_view rest = url.substr(scheme.size());
    const size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    const std::string_view pathText = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);

    FtpUrl result;
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        const size_t colon = userInfo.find(':');
        result.user = decodePart(userInfo.substr(0, colon), "user name", url);
        result.password = colon == std::string_view::npos
                ? std::string()
                : decodePart(userInfo.substr(colon + 1), "password", url);
        authority = authority.substr(at + 1);
    }
    const size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
        const std::string port = decodePart(authority.substr(colon + 1), "port", url);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos
            || std::stoi(port) == 0 || std::stoi(port) > 65535)
            throw Error("Invalid port in " + redactFtpUrl(url));
        result.port = port;
        authority = authority.substr(0, colon);
    }
    result.host = decodePart(authority, "host", url);
    if (result.host.empty())
        throw Error("No host in " + redactFtpUrl(url));

    size_t begin = 0;
    while (begin < pathText.size()) {
        size_t end = pathText.find('/', begin);
        if (end == std::string_view::npos)
            end = pathText.size();
        if (end > begin)
            result.path.push_back(decodePart(pathText.substr(begin, end - begin), "path", url));
        begin = end + 1;
    }
    return result;
}

} // namespace veltrano
