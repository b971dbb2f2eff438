#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// Pure pieces of the FTP control dialogue, kept apart from the client so that each rule can be
// checked on its own.

// Room of the control receive buffer: 4096 bytes, one kept free, as the client has always had.
constexpr size_t kFtpReplyBufferRoom = 4095;

// Cuts the first complete line off `buffer`: it ends at CR LF, or at a bare LF as well when
// `acceptLF` is set. Trailing CR and LF characters are stripped. nullopt while no line is
// complete.
std::optional<std::string> takeReplyLine(std::string &buffer, bool acceptLF);

// The number a reply line starts with, or -1 when it does not start with a digit.
int replyCode(std::string_view line);

// True for the line that ends a reply: it starts with a digit and its number is not followed
// by '-'. Every other line (a "230-" opener, free text) continues a multi-line reply.
bool isFinalReplyLine(std::string_view line);

// The data port of a 227 reply, e.g. "227 Entering Passive Mode (10,0,0,5,19,137)" gives 5001.
// The address numbers are skipped unread. nullopt when the reply has not that shape.
std::optional<uint16_t> parsePasvPort(std::string_view reply);

// The folder of a CWD, MKD, PWD or CDUP reply: the text between the first pair of double
// quotes after the code, a doubled quote standing for one. Empty when there is none.
std::string extractReplyDir(std::string_view reply);

// The number after the code of a SIZE reply ("213 1234"), 0 when there is none.
int64_t extractReplySize(std::string_view reply);

// True when `text` holds CR, LF or NUL: as a command argument it would end the command early
// and let the rest through as a command of its own.
bool holdsLineBreakOrNul(std::string_view text);

// The size a 150 or 125 reply announces, as in "150 Opening BINARY mode data connection for
// a.bin (1234 bytes)": the number in the last parenthesis that ends in " bytes". nullopt when
// the reply announces none.
std::optional<int64_t> announcedSize(std::string_view reply);

// "N bytes received/sent in S seconds" with " (R Bytes/sec)" when the milliseconds are not 0.
std::string formatTransferStats(int64_t bytes, int64_t milliseconds);

} // namespace veltrano
