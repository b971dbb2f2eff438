#include "ftp/ftpreply.h"

#include <cctype>

namespace veltrano {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads the decimal number at text[pos], moving pos past it; nullopt when no digit is there.
std::optional<int64_t> readNumber(std::string_view text, size_t &pos)
{
    if (pos >= text.size() || !isDigit(text[pos]))
        return std::nullopt;
    int64_t value = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        if (value < (int64_t(1) << 48))
            value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return value;
}

} // namespace

std::optional<std::string> takeReplyLine(std::string &buffer, bool acceptLF)
{
    size_t end = std::string::npos;
    if (acceptLF) {
        end = buffer.find('\n');
    } else {
        const size_t crlf = buffer.find("\r\n");
        if (crlf != std::string::npos)
            end = crlf + 1;
    }
    if (end == std::string::npos)
        return std::nullopt;
    std::string line = buffer.substr(0, end + 1);
    buffer.erase(0, end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

int replyCode(std::string_view line)
{
    size_t pos = 0;
    const std::optional<int64_t> code = readNumber(line, pos);
    return code && *code < 1000000 ? static_cast<int>(*code) : -1;
}

bool isFinalReplyLine(std::string_view line)
{
    size_t pos = 0;
    if (!readNumber(line, pos))
        return false;
    return pos >= line.size() || line[pos] != '-';
}

std::optional<uint16_t> parsePasvPort(std::string_view reply)
{
    size_t pos = reply.find('(');
    if (pos == std::string_view::npos)
        return std::nullopt;
    ++pos;
    for (int i = 0; i < 4; ++i) {
        pos = reply.find(',', pos);
        if (pos == std::string_view::npos)
            return std::nullopt;
        ++pos;
    }
    while (pos < reply.size() && reply[pos] == ' ')
        ++pos;
    const std::optional<int64_t> high = readNumber(reply, pos);
    if (!high || pos >= reply.size() || reply[pos] != ',')
        return std::nullopt;
    ++pos;
    while (pos < reply.size() && reply[pos] == ' ')
        ++pos;
    const std::optional<int64_t> low = readNumber(reply, pos);
    if (!low || *high > 255 || *low > 255)
        return std::nullopt;
    return static_cast<uint16_t>(*high * 256 + *low);
}

std::string extractReplyDir(std::string_view reply)
{
    size_t pos = 0;
    readNumber(reply, pos);
    pos = reply.find('"', pos);
    if (pos == std::string_view::npos)
        return {};
    std::string dir;
    for (++pos; pos < reply.size(); ++pos) {
        if (reply[pos] != '"') {
            dir += reply[pos];
        } else if (pos + 1 < reply.size() && reply[pos + 1] == '"') {
            dir += '"';
            ++pos;
        } else {
            break;
        }
    }
    return dir;
}

int64_t extractReplySize(std::string_view reply)
{
    size_t pos = 0;
    readNumber(reply, pos);
    while (pos < reply.size() && reply[pos] == ' ')
        ++pos;
    return readNumber(reply, pos).value_or(0);
}

bool holdsLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::optional<int64_t> announcedSize(std::string_view reply)
{
    const size_t open = reply.rfind('(');
    if (open == std::string_view::npos)
        return std::nullopt;
    size_t pos = open + 1;
    const std::optional<int64_t> size = readNumber(reply, pos);
    constexpr std::string_view unit = " bytes)";
    if (!size || reply.size() - pos < unit.size())
        return std::nullopt;
    for (size_t i = 0; i < unit.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(reply[pos + i])) != unit[i])
            return std::nullopt;
    return size;
}

std::string formatTransferStats(int64_t bytes, int64_t milliseconds)
{
    std::string text = std::to_string(bytes) + " bytes received/sent in "
                       + std::to_string(milliseconds / 1000) + " seconds";
    if (milliseconds != 0) {
        // Small counts multiply first for precision, large ones divide first.
        const int64_t rate = bytes < 32768 ? bytes * 1000 / milliseconds
                                            : bytes / milliseconds * 1000;
        text += " (" + std::to_string(rate) + " Bytes/sec)";
    }
    return text;
}

} // namespace veltrano
