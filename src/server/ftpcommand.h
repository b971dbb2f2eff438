#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// The pure pieces of the server's FTP dialogue: reading a command line and its arguments, and
// writing the replies and listing lines that carry numbers, addresses and dates.

// Longest command line a client may send (CR LF included); a longer one is refused.
inline constexpr size_t kMaxCommandLine = 4096;

struct FtpCommand
{
    std::string verb; // upper-case letters
    std::string argument; // everything after the first blank, as sent (wire bytes)
};

// One line without its CR LF. Telnet interrupt sequences (IAC x) in front of the verb, which
// some clients send before ABOR, are dropped. nullopt for a line that holds no verb of letters
// or holds a NUL byte, which no argument may carry.
std::optional<FtpCommand> parseCommandLine(std::string_view line);

// A host and port of PORT (h1,h2,h3,h4,p1,p2) or EPRT (|1|a.b.c.d|port|); IPv4 only.
struct HostPort
{
    uint32_t address = 0; // host order
    uint16_t port = 0;
};
std::optional<HostPort> parsePortArgument(std::string_view argument);
std::optional<HostPort> parseEprtArgument(std::string_view argument);

// REST's offset: decimal digits only, no sign, no overflow.
std::optional<uint64_t> parseRestArgument(std::string_view argument);

std::string pasvReply(HostPort where);
std::string epsvReply(uint16_t port);

// One line of a LIST reply in the classic form (permissions, links, owner, group, size, month,
// day, year, name). The year form is always used, never the time of day: a reader that takes
// the third date field as the year then gets the right one. `mtime` is shown in local time.
std::string listingLine(std::string_view name, bool folder, uint64_t size, std::time_t mtime);

// MDTM's time: YYYYMMDDHHMMSS in UTC.
std::string mdtmText(std::time_t mtime);

// A reply: "code text" CR LF; text with line breaks becomes a multi-line reply.
std::string replyText(int code, std::string_view text);

} // namespace veltrano
