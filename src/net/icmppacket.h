#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano::icmp {

// The bytes of an ICMP echo and what comes back, without any socket: building the request,
// the Internet checksum, reading replies and errors and deciding whether they answer our
// request, the numeric address forms, and the status codes with their English texts.
//
// Addresses are IPv4 numbers in host order here (192.168.1.10 is 0xC0A8010A); only the
// socket layer turns them into network order.

// Status codes of an echo. 0 is success; the others are the ICMP service's own numbers, which
// callers may show or compare (11010 is a time-out, 11018 an address that does not resolve).
enum StatusCode : int {
    kSuccess = 0,
    kBufferTooSmall = 11001,
    kDestNetUnreachable = 11002,
    kDestHostUnreachable = 11003,
    kDestProtUnreachable = 11004,
    kDestPortUnreachable = 11005,
    kNoResources = 11006,
    kBadOption = 11007,
    kHwError = 11008,
    kPacketTooBig = 11009,
    kRequestTimedOut = 11010,
    kBadRequest = 11011,
    kBadRoute = 11012,
    kTtlExpiredTransit = 11013,
    kTtlExpiredReassem = 11014,
    kParamProblem = 11015,
    kSourceQuench = 11016,
    kOptionTooBig = 11017,
    kBadDestination = 11018,
    kAddrDeleted = 11019,
    kSpecMtuChange = 11020,
    kMtuChange = 11021,
    kGeneralFailure = 11050,
    kPending = 11255,
};

// The English text of a status code; a code outside the table reads "ICMP error #<code>".
std::string ErrorString(int code);

// All ones: the value of an address that has not been (or could not be) resolved.
constexpr uint32_t kAddrNone = 0xFFFFFFFFu;

// The numeric forms of an IPv4 address that need no name look-up: one to four parts joined by
// dots, each decimal, octal (leading 0) or hexadecimal (leading 0x); the last part fills the
// remaining bytes, so "3232235786" is 192.168.1.10 and "127.1" is 127.0.0.1. Anything else
// (a host name, a part out of range, blanks, a trailing dot) gives nothing.
std::optional<uint32_t> parseNumericAddress(std::string_view text);

// Dotted text of an address ("192.168.1.10").
std::string formatAddress(uint32_t address);

// The fixed 45-character ASCII banner at the start of every request's data.
constexpr std::string_view kBanner = "Veltrano ICMP echo request: is anybody there?";
static_assert(kBanner.size() == 45);

// The request data of `size` bytes: the banner, cut to `size` when shorter, then blanks.
std::vector<uint8_t> echoRequestData(size_t size);

// The Internet checksum (ones' complement of the ones' complement sum of 16-bit words, an odd
// last byte padded with zero), as stored in the packet: its bytes go out high byte first.
uint16_t internetChecksum(std::span<const uint8_t> bytes);

constexpr size_t kIcmpHeaderSize = 8;
constexpr uint8_t kTypeEchoReply = 0;
constexpr uint8_t kTypeDestUnreachable = 3;
constexpr uint8_t kTypeSourceQuench = 4;
constexpr uint8_t kTypeEchoRequest = 8;
constexpr uint8_t kTypeTimeExceeded = 11;
constexpr uint8_t kTypeParamProblem = 12;

// A whole echo request (header and data) with its checksum filled in.
std::vector<uint8_t> buildEchoRequest(
        uint16_t identifier, uint16_t sequence, std::span<const uint8_t> data);

// The status an ICMP error message stands for (destination unreachable, time exceeded,
// parameter problem, source quench), or kGeneralFailure for a type/code pair it has none for.
int statusForIcmpError(uint8_t type, uint8_t code);

// What we are waiting for. A datagram ("ping") socket leaves the identifier to the system and
// delivers only replies that carry it, so `identifier` is then left empty.
struct EchoKey
{
    uint32_t target = kAddrNone;
    std::optional<uint16_t> identifier;
    uint16_t sequence = 0;
};

// One received packet as it concerns our request.
struct Answer
{
    enum Kind {
        Unrelated,
        EchoReply,
        Error
    };
    Kind kind = Unrelated;
    int status = kSuccess; // for Error: the status of the ICMP error message
    uint32_t from = 0; // the sender: the target, or the router that reported the error
    uint8_t ttl = 0; // TTL of the IP header when the packet had one, else 0
    size_t dataSize = 0; // bytes of echo data in a reply
};

// Reads one packet from an ICMP socket and matches it against `key`. With `hasIpHeader` (a raw
// socket) the packet starts with the IPv4 header and `from` is read from it; otherwise (a
// datagram socket) it starts with the ICMP header and `from` is the sender the socket reported.
// Our own request looped back, replies to other programs or to an earlier request, and errors
// about other packets are Unrelated; so is anything truncated or malformed.
Answer readAnswer(
        std::span<const uint8_t> packet, bool hasIpHeader, uint32_t from, const EchoKey &key);

} // namespace veltrano::icmp
