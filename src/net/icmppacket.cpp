#include "net/icmppacket.h"

#include <array>
#include <utility>

namespace veltrano::icmp {

namespace {

constexpr std::array<std::pair<int, const char *>, 24> kStatusTexts{{
        {kSuccess, "No error"},
        {kBufferTooSmall, "Buffer too small"},
        {kDestNetUnreachable, "Destination network unreachable"},
        {kDestHostUnreachable, "Destination host unreachable"},
        {kDestProtUnreachable, "Destination protocol unreachable"},
        {kDestPortUnreachable, "Destination port unreachable"},
        {kNoResources, "No resources"},
        {kBadOption, "Bad option"},
        {kHwError, "Hardware error"},
        {kPacketTooBig, "Packet too big"},
        {kRequestTimedOut, "Request timed out"},
        {kBadRequest, "Bad request"},
        {kBadRoute, "Bad route"},
        {kTtlExpiredTransit, "TTL expired in transit"},
        {kTtlExpiredReassem, "TTL expired in reassembly"},
        {kParamProblem, "Parameter problem"},
        {kSourceQuench, "Source quench"},
        {kOptionTooBig, "Option too big"},
        {kBadDestination, "Bad Destination"},
        {kAddrDeleted, "Address deleted"},
        {kSpecMtuChange, "Spec MTU change"},
        {kMtuChange, "MTU change"},
        {kGeneralFailure, "General failure"},
        {kPending, "Pending"},
}};

uint16_t readU16be(std::span<const uint8_t> bytes, size_t offset)
{
    return uint16_t(bytes[offset] << 8 | bytes[offset + 1]);
}

uint32_t readU32be(std::span<const uint8_t> bytes, size_t offset)
{
    return uint32_t(bytes[offset]) << 24 | uint32_t(bytes[offset + 1]) << 16
            | uint32_t(bytes[offset + 2]) << 8 | uint32_t(bytes[offset + 3]);
}

// One part of a numeric address; nothing when it is not a number or exceeds `limit`.
std::optional<uint32_t> parsePart(std::string_view text, uint32_t limit)
{
    unsigned base = 10;
    if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = unsigned(c - 'A' + 10);
        else
            return std::nullopt;
        if (digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }
    return uint32_t(value);
}

// The IPv4 header of a raw packet: its length, or 0 when it is not a plausible header.
size_t ipHeaderLength(std::span<const uint8_t> packet)
{
    if (packet.size() < 20 || (packet[0] >> 4) != 4)
        return 0;
    size_t length = size_t(packet[0] & 0x0F) * 4;
    return length >= 20 && length <= packet.size() ? length : 0;
}

bool isIcmpError(uint8_t type)
{
    return type == kTypeDestUnreachable || type == kTypeSourceQuench || type == kTypeTimeExceeded
            || type == kTypeParamProblem;
}

// Whether an ICMP header (ours, quoted back or answered) carries our identifier and sequence.
bool matchesKey(std::span<const uint8_t> icmpHeader, const EchoKey &key)
{
    if (key.identifier && readU16be(icmpHeader, 4) != *key.identifier)
        return false;
    return readU16be(icmpHeader, 6) == key.sequence;
}

// An ICMP error quotes the IP header and at least the first 8 bytes of the packet it is about:
// it concerns us only when that packet was our echo request to our target.
bool quotesOurRequest(std::span<const uint8_t> quoted, const EchoKey &key)
{
    size_t ipLength = ipHeaderLength(quoted);
    if (ipLength == 0 || quoted.size() < ipLength + kIcmpHeaderSize)
        return false;
    constexpr uint8_t kProtocolIcmp = 1;
    if (quoted[9] != kProtocolIcmp || readU32be(quoted, 16) != key.target)
        return false;
    std::span<const uint8_t> request = quoted.subspan(ipLength);
    return request[0] == kTypeEchoRequest && matchesKey(request, key);
}

} // namespace

std::string ErrorString(int code)
{
    for (const auto &[status, text] : kStatusTexts) {
        if (status == code)
            return text;
    }
    return "ICMP error #" + std::to_string(code);
}

std::optional<uint32_t> parseNumericAddress(std::string_view text)
{
    std::array<uint32_t, 4> parts{};
    size_t count = 0;
    while (true) {
        size_t dot = text.find('.');
        std::string_view part = text.substr(0, dot);
        if (count == parts.size())
            return std::nullopt;
        // Every part but the last is one byte; the last fills what the others leave.
        bool last = dot == std::string_view::npos;
        uint32_t limit = last ? uint32_t(0xFFFFFFFFu >> (8 * count)) : 0xFFu;
        std::optional<uint32_t> value = parsePart(part, limit);
        if (!value)
            return std::nullopt;
        parts[count++] = *value;
        if (last)
            break;
        text.remove_prefix(dot + 1);
    }
    uint32_t address = parts[count - 1];
    for (size_t i = 0; i + 1 < count; ++i)
        address |= parts[i] << (24 - 8 * i);
    return address;
}

std::string formatAddress(uint32_t address)
{
    return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 0xFF) + '.'
            + std::to_string(address >> 8 & 0xFF) + '.' + std::to_string(address & 0xFF);
}

std::vector<uint8_t> echoRequestData(size_t size)
{
    std::vector<uint8_t> data(size, uint8_t(' '));
    for (size_t i = 0; i < size && i < kBanner.size(); ++i)
        data[i] = uint8_t(kBanner[i]);
    return data;
}

uint16_t internetChecksum(std::span<const uint8_t> bytes)
{
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += uint32_t(bytes[i] << 8 | bytes[i + 1]);
    if (i < bytes.size())
        sum += uint32_t(bytes[i] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

std::vector<uint8_t> buildEchoRequest(
        uint16_t identifier, uint16_t sequence, std::span<const uint8_t> data)
{
    std::vector<uint8_t> packet(kIcmpHeaderSize + data.size());
    packet[0] = kTypeEchoRequest;
    packet[1] = 0;
    packet[4] = uint8_t(identifier >> 8);
    packet[5] = uint8_t(identifier);
    packet[6] = uint8_t(sequence >> 8);
    packet[7] = uint8_t(sequence);
    std::copy(data.begin(), data.end(), packet.begin() + kIcmpHeaderSize);
    uint16_t checksum = internetChecksum(packet);
    packet[2] = uint8_t(checksum >> 8);
    packet[3] = uint8_t(checksum);
    return packet;
}

int statusForIcmpError(uint8_t type, uint8_t code)
{
    switch (type) {
    case kTypeDestUnreachable:
        switch (code) {
        case 0: // network unreachable
        case 6: // network unknown
        case 9: // network administratively prohibited
        case 11: // network unreachable for the type of service
            return kDestNetUnreachable;
        case 2:
            return kDestProtUnreachable;
        case 3:
            return kDestPortUnreachable;
        case 4: // fragmentation needed but "don't fragment" set
            return kPacketTooBig;
        case 5: // source route failed
            return kBadRoute;
        default: // host unreachable, unknown, prohibited or filtered
            return kDestHostUnreachable;
        }
    case kTypeTimeExceeded:
        return code == 1 ? kTtlExpiredReassem : kTtlExpiredTransit;
    case kTypeParamProblem:
        return kParamProblem;
    case kTypeSourceQuench:
        return kSourceQuench;
    default:
        return kGeneralFailure;
    }
}

Answer readAnswer(
        std::span<const uint8_t> packet, bool hasIpHeader, uint32_t from, const EchoKey &key)
{
    Answer answer;
    if (hasIpHeader) {
        size_t ipLength = ipHeaderLength(packet);
        if (ipLength == 0)
            return answer;
        answer.ttl = packet[8];
        from = readU32be(packet, 12);
        packet = packet.subspan(ipLength);
    }
    if (packet.size() < kIcmpHeaderSize)
        return answer;
    answer.from = from;
    uint8_t type = packet[0];
    if (type == kTypeEchoReply) {
        if (from != key.target || !matchesKey(packet, key))
            return answer;
        answer.kind = Answer::EchoReply;
        answer.dataSize = packet.size() - kIcmpHeaderSize;
    } else if (isIcmpError(type)) {
        if (!quotesOurRequest(packet.subspan(kIcmpHeaderSize), key))
            return answer;
        answer.kind = Answer::Error;
        answer.status = statusForIcmpError(type, packet[1]);
    }
    return answer;
}

} // namespace veltrano::icmp
