#include "server/ftpcommand.h"

#include <charconv>

#include <fmt/format.h>

namespace veltrano {
namespace {

constexpr unsigned char kIac = 0xFF;

std::optional<unsigned> smallNumber(std::string_view text, unsigned max)
{
    unsigned value = 0;
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<FtpCommand> parseCommandLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos)
        return std::nullopt;
    while (line.size() >= 2 && static_cast<unsigned char>(line[0]) == kIac)
        line.remove_prefix(2);
    while (!line.empty() && static_cast<unsigned char>(line[0]) == kIac)
        line.remove_prefix(1);
    FtpCommand command;
    size_t i = 0;
    while (i < line.size() && line[i] != ' ') {
        const char c = line[i];
        if (c >= 'a' && c <= 'z')
            command.verb += char(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            command.verb += c;
        else
            return std::nullopt;
        ++i;
    }
    if (command.verb.empty() || command.verb.size() > 16)
        return std::nullopt;
    if (i < line.size())
        command.argument = std::string(line.substr(i + 1));
    return command;
}

std::optional<HostPort> parsePortArgument(std::string_view argument)
{
    unsigned n[6];
    for (int k = 0; k < 6; ++k) {
        const size_t comma = k < 5 ? argument.find(',') : argument.size();
        if (comma == std::string_view::npos)
            return std::nullopt;
        std::string_view field = argument.substr(0, comma);
        while (!field.empty() && field.front() == ' ')
            field.remove_prefix(1);
        const auto value = smallNumber(field, 255);
        if (!value)
            return std::nullopt;
        n[k] = *value;
        argument = k < 5 ? argument.substr(comma + 1) : std::string_view();
    }
    HostPort hp;
    hp.address = (n[0] << 24) | (n[1] << 16) | (n[2] << 8) | n[3];
    hp.port = uint16_t((n[4] << 8) | n[5]);
    if (hp.port == 0)
        return std::nullopt;
    return hp;
}

std::optional<HostPort> parseEprtArgument(std::string_view argument)
{
    if (argument.size() < 2)
        return std::nullopt;
    const char d = argument[0];
    if (d < 33 || d > 126 || argument.back() != d)
        return std::nullopt;
    std::string_view rest = argument.substr(1, argument.size() - 2);
    const size_t a = rest.find(d);
    const size_t b = a == std::string_view::npos ? a : rest.find(d, a + 1);
    if (b == std::string_view::npos || rest.substr(0, a) != "1")
        return std::nullopt;
    std::string_view host = rest.substr(a + 1, b - a - 1);
    const auto port = smallNumber(rest.substr(b + 1), 65535);
    if (!port || *port == 0)
        return std::nullopt;
    HostPort hp;
    hp.port = uint16_t(*port);
    for (int k = 0; k < 4; ++k) {
        const size_t dot = k < 3 ? host.find('.') : host.size();
        if (dot == std::string_view::npos)
            return std::nullopt;
        const auto part = smallNumber(host.substr(0, dot), 255);
        if (!part)
            return std::nullopt;
        hp.address = (hp.address << 8) | *part;
        host = k < 3 ? host.substr(dot + 1) : std::string_view();
    }
    return hp;
}

std::optional<uint64_t> parseRestArgument(std::string_view argument)
{
    uint64_t value = 0;
    if (argument.empty() || argument.size() > 19)
        return std::nullopt;
    const auto [end, ec] =
            std::from_chars(argument.data(), argument.data() + argument.size(), value);
    if (ec != std::errc() || end != argument.data() + argument.size())
        return std::nullopt;
    return value;
}

std::string pasvReply(HostPort where)
{
    const uint32_t a = where.address;
    return fmt::format("Entering Passive Mode ({},{},{},{},{},{})", a >> 24, (a >> 16) & 255,
            (a >> 8) & 255, a & 255, where.port >> 8, where.port & 255);
}

std::string epsvReply(uint16_t port)
{
    return fmt::format("Entering Extended Passive Mode (|||{}|)", port);
}

std::string listingLine(std::string_view name, bool folder, uint64_t size, std::time_t mtime)
{
    static constexpr const char *kMonths[] = {
            "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    if (!localtime_r(&mtime, &tm)) {
        std::time_t zero = 0;
        localtime_r(&zero, &tm);
    }
    return fmt::format("{} 1 ftp ftp {:>12} {} {:02} {:5} {}\r\n",
            folder ? "dr-xr-xr-x" : "-r--r--r--", folder ? 0 : size, kMonths[tm.tm_mon % 12],
            tm.tm_mday, tm.tm_year + 1900, name);
}

std::string mdtmText(std::time_t mtime)
{
    std::tm tm{};
    gmtime_r(&mtime, &tm);
    return fmt::format("{:04}{:02}{:02}{:02}{:02}{:02}", tm.tm_year + 1900, tm.tm_mon + 1,
            tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::string replyText(int code, std::string_view text)
{
    std::string out;
    size_t start = 0;
    while (true) {
        const size_t eol = text.find('\n', start);
        std::string_view line =
                text.substr(start, eol == std::string_view::npos ? eol : eol - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (eol == std::string_view::npos) {
            out += fmt::format("{} {}\r\n", code, line);
            return out;
        }
        out += fmt::format("{}-{}\r\n", code, line);
        start = eol + 1;
    }
}

} // namespace veltrano
