#include <gtest/gtest.h>

#include "net/icmppacket.h"

using namespace veltrano::icmp;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kTarget = 0x0A0B0C0D; // 10.11.12.13
constexpr uint32_t kRouter = 0x0A000001; // 10.0.0.1
constexpr uint32_t kSelf = 0x0A000002;
constexpr uint16_t kId = 0x1234;
constexpr uint16_t kSeq = 7;

void putU32(Bytes &bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = uint8_t(value >> (24 - 8 * i));
}

// An IPv4 header (20 bytes, protocol ICMP) in front of `payload`.
Bytes withIpHeader(uint32_t from, uint32_t to, uint8_t ttl, const Bytes &payload)
{
    Bytes packet(20);
    packet[0] = 0x45;
    packet[8] = ttl;
    packet[9] = 1;
    putU32(packet, 12, from);
    putU32(packet, 16, to);
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

Bytes echo(uint8_t type, uint16_t id, uint16_t seq, size_t dataSize)
{
    Bytes packet = buildEchoRequest(id, seq, echoRequestData(dataSize));
    packet[0] = type;
    return packet;
}

// An ICMP error quoting the IP header and the first 8 bytes of the echo request it is about.
Bytes icmpError(uint8_t type, uint8_t code, uint32_t requestTarget, uint16_t id, uint16_t seq)
{
    Bytes quoted = withIpHeader(kSelf, requestTarget, 1, echo(kTypeEchoRequest, id, seq, 0));
    Bytes packet{type, code, 0, 0, 0, 0, 0, 0};
    packet.insert(packet.end(), quoted.begin(), quoted.end());
    return packet;
}

EchoKey rawKey()
{
    return EchoKey{kTarget, kId, kSeq};
}

} // namespace

TEST(IcmpErrorString, GivesTheTableTextOrTheCodeNumber)
{
    EXPECT_EQ(ErrorString(0), "No error");
    EXPECT_EQ(ErrorString(11001), "Buffer too small");
    EXPECT_EQ(ErrorString(11003), "Destination host unreachable");
    EXPECT_EQ(ErrorString(11010), "Request timed out");
    EXPECT_EQ(ErrorString(11018), "Bad Destination");
    EXPECT_EQ(ErrorString(11020), "Spec MTU change");
    EXPECT_EQ(ErrorString(11050), "General failure");
    EXPECT_EQ(ErrorString(11255), "Pending");
    EXPECT_EQ(ErrorString(12345), "ICMP error #12345");
    EXPECT_EQ(ErrorString(11022), "ICMP error #11022");
    EXPECT_EQ(ErrorString(-1), "ICMP error #-1");
}

TEST(IcmpAddress, ReadsEveryNumericFormWithoutALookUp)
{
    EXPECT_EQ(parseNumericAddress("127.0.0.1"), 0x7F000001u);
    EXPECT_EQ(parseNumericAddress("3232235786"), 0xC0A8010Au);
    EXPECT_EQ(formatAddress(*parseNumericAddress("3232235786")), "192.168.1.10");
    EXPECT_EQ(parseNumericAddress("3232235521"), 0xC0A80001u); // as the on-line status writes it
    EXPECT_EQ(parseNumericAddress("127.1"), 0x7F000001u);
    EXPECT_EQ(parseNumericAddress("10.1.258"), 0x0A010102u);
    EXPECT_EQ(parseNumericAddress("0x7f.0.0.1"), 0x7F000001u);
    EXPECT_EQ(parseNumericAddress("010.0.0.1"), 0x08000001u);
    EXPECT_EQ(parseNumericAddress("0"), 0u);
    EXPECT_EQ(parseNumericAddress("4294967295"), kAddrNone);
    EXPECT_EQ(formatAddress(0), "0.0.0.0");
    EXPECT_EQ(formatAddress(0xFFFFFFFF), "255.255.255.255");
}

TEST(IcmpAddress, LeavesNamesAndMalformedNumbersToTheResolver)
{
    for (const char *text : {"", "localhost", "host.invalid", "256.0.0.1", "1.2.3.4.5", "1.2.3.",
                 ".1.2.3", "1..2", "4294967296", "1.16777216", " 1.2.3.4", "1.2.3.4 ", "08", "0x",
                 "1.2.3.0x100", "-1", "１.2.3.4"})
        EXPECT_FALSE(parseNumericAddress(text)) << '"' << text << '"';
}

TEST(IcmpRequest, DataIsTheBannerCutOrPaddedWithBlanks)
{
    Bytes ten = echoRequestData(10);
    EXPECT_EQ(std::string(ten.begin(), ten.end()), std::string(kBanner.substr(0, 10)));

    Bytes full = echoRequestData(56);
    EXPECT_EQ(std::string(full.begin(), full.end()), std::string(kBanner) + std::string(11, ' '));
    EXPECT_TRUE(echoRequestData(0).empty());
}

TEST(IcmpRequest, ChecksumMatchesKnownValuesAndVerifiesToZero)
{
    // The example of RFC 1071: the sum is 0xDDF2, the checksum its complement.
    Bytes sample{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
    EXPECT_EQ(internetChecksum(sample), 0x220D);
    EXPECT_EQ(internetChecksum(Bytes{0x01}), 0xFEFF); // an odd byte is the high half
    EXPECT_EQ(internetChecksum(Bytes{}), 0xFFFF);

    for (size_t size : {0, 1, 10, 45, 56, 1473}) {
        Bytes packet = buildEchoRequest(0xBEEF, 0x0102, echoRequestData(size));
        ASSERT_EQ(packet.size(), kIcmpHeaderSize + size);
        EXPECT_EQ(packet[0], kTypeEchoRequest);
        EXPECT_EQ(packet[1], 0);
        EXPECT_EQ(Bytes(packet.begin() + 4, packet.begin() + 8), (Bytes{0xBE, 0xEF, 0x01, 0x02}));
        EXPECT_EQ(internetChecksum(packet), 0) << "size " << size;
    }
}

TEST(IcmpAnswer, AcceptsOnlyTheReplyToOurRequestFromOurTarget)
{
    Answer answer =
            readAnswer(withIpHeader(kTarget, kSelf, 57, echo(0, kId, kSeq, 56)), true, 0, rawKey());
    EXPECT_EQ(answer.kind, Answer::EchoReply);
    EXPECT_EQ(answer.from, kTarget);
    EXPECT_EQ(answer.ttl, 57);
    EXPECT_EQ(answer.dataSize, 56u);

    struct Case
    {
        const char *what;
        Bytes packet;
    };
    const Case others[] = {
            {"another program's identifier",
                    withIpHeader(kTarget, kSelf, 64, echo(0, kId + 1, kSeq, 56))},
            {"a late reply to our last request",
                    withIpHeader(kTarget, kSelf, 64, echo(0, kId, kSeq - 1, 8))},
            {"another host", withIpHeader(kRouter, kSelf, 64, echo(0, kId, kSeq, 56))},
            {"our own request looped back",
                    withIpHeader(kTarget, kSelf, 64, echo(8, kId, kSeq, 56))},
            {"an error about another program's echo",
                    withIpHeader(kRouter, kSelf, 64, icmpError(3, 1, kTarget, kId + 1, kSeq))},
            {"an error about an echo to another host",
                    withIpHeader(kRouter, kSelf, 64, icmpError(3, 1, kRouter, kId, kSeq))},
            {"a redirect", withIpHeader(kRouter, kSelf, 64, icmpError(5, 1, kTarget, kId, kSeq))},
            {"not IPv4",
                    [] {
                        Bytes p = withIpHeader(kTarget, kSelf, 64, echo(0, kId, kSeq, 8));
                        p[0] = 0x65;
                        return p;
                    }()},
            {"a header length past the end",
                    [] {
                        Bytes p = withIpHeader(kTarget, kSelf, 64, echo(0, kId, kSeq, 0));
                        p[0] = 0x4F;
                        return p;
                    }()},
    };
    for (const Case &other : others)
        EXPECT_EQ(readAnswer(other.packet, true, 0, rawKey()).kind, Answer::Unrelated)
                << other.what;
}

TEST(IcmpAnswer, DatagramSocketsLeaveTheIdentifierToTheSystemButNotTheSequence)
{
    EchoKey key{kTarget, std::nullopt, kSeq};
    Answer answer = readAnswer(echo(0, 0x4321, kSeq, 10), false, kTarget, key);
    EXPECT_EQ(answer.kind, Answer::EchoReply);
    EXPECT_EQ(answer.ttl, 0);
    EXPECT_EQ(answer.dataSize, 10u);
    EXPECT_EQ(
            readAnswer(echo(0, 0x4321, kSeq + 1, 10), false, kTarget, key).kind, Answer::Unrelated);
    EXPECT_EQ(readAnswer(echo(0, 0x4321, kSeq, 10), false, kRouter, key).kind, Answer::Unrelated);
}

TEST(IcmpAnswer, ErrorsAboutOurRequestCarryTheirStatusAndReporter)
{
    struct Case
    {
        uint8_t type, code;
        int status;
    };
    const Case cases[] = {
            {3, 0, kDestNetUnreachable},
            {3, 1, kDestHostUnreachable},
            {3, 2, kDestProtUnreachable},
            {3, 3, kDestPortUnreachable},
            {3, 4, kPacketTooBig},
            {3, 5, kBadRoute},
            {3, 10, kDestHostUnreachable},
            {3, 13, kDestHostUnreachable},
            {11, 0, kTtlExpiredTransit},
            {11, 1, kTtlExpiredReassem},
            {12, 0, kParamProblem},
            {4, 0, kSourceQuench},
    };
    for (const Case &c : cases) {
        Answer answer = readAnswer(
                withIpHeader(kRouter, kSelf, 63, icmpError(c.type, c.code, kTarget, kId, kSeq)),
                true, 0, rawKey());
        EXPECT_EQ(answer.kind, Answer::Error) << int(c.type) << '/' << int(c.code);
        EXPECT_EQ(answer.status, c.status) << int(c.type) << '/' << int(c.code);
        EXPECT_EQ(answer.from, kRouter);
    }
}

TEST(IcmpAnswer, TruncatedPacketsAreUnrelatedAndReadInBounds)
{
    const Bytes whole[] = {
            withIpHeader(kTarget, kSelf, 64, echo(0, kId, kSeq, 0)),
            withIpHeader(kRouter, kSelf, 64, icmpError(3, 1, kTarget, kId, kSeq)),
    };
    for (const Bytes &packet : whole) {
        ASSERT_NE(readAnswer(packet, true, 0, rawKey()).kind, Answer::Unrelated);
        for (size_t size = 0; size < packet.size(); ++size) {
            Bytes cut(packet.begin(), packet.begin() + size);
            EXPECT_EQ(readAnswer(cut, true, 0, rawKey()).kind, Answer::Unrelated) << size;
        }
    }
}
