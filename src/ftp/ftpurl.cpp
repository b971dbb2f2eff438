#include "ftp/ftpurl.h"

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
        if (low < 0)
            throw Error("Invalid percent escape in \"" + std::string(text) + "\"");
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

FtpUrl parseFtpUrl(std::string_view url)
{
    constexpr std::string_view scheme = "ftp://";
    if (url.size() < scheme.size() || url.substr(0, scheme.size()) != scheme)
        throw Error("Not an ftp:// address: " + std::string(url));
    std::string_view rest = url.substr(scheme.size());
    const size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    const std::string_view pathText = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);

    FtpUrl result;
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        const size_t colon = userInfo.find(':');
        result.user = percentDecode(userInfo.substr(0, colon));
        result.password = colon == std::string_view::npos ? std::string() : percentDecode(userInfo.substr(colon + 1));
        authority = authority.substr(at + 1);
    }
    const size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
        const std::string port = percentDecode(authority.substr(colon + 1));
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos
            || std::stoi(port) == 0 || std::stoi(port) > 65535)
            throw Error("Invalid port in " + std::string(url));
        result.port = port;
        authority = authority.substr(0, colon);
    }
    result.host = percentDecode(authority);
    if (result.host.empty())
        throw Error("No host in " + std::string(url));

    size_t begin = 0;
    while (begin < pathText.size()) {
        size_t end = pathText.find('/', begin);
        if (end == std::string_view::npos)
            end = pathText.size();
        if (end > begin)
            result.path.push_back(percentDecode(pathText.substr(begin, end - begin)));
        begin = end + 1;
    }
    return result;
}

} // namespace veltrano
