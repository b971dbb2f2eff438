// Echoes that need a network of the test's own: a host namespace joined by a veth pair to a
// router namespace. Nothing here is sent outside these namespaces.
//
//   host 10.213.7.1 --veth-- 10.213.7.2 router --veth-- 10.213.9.1 (nothing behind it)
//   10.213.7.3: no one on the host's link     10.213.8.0/24: unreachable at the router
#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "net/icmp.h"
#include "netns.h"

using namespace veltrano;
using veltrano::test::NetNamespace;

namespace {

const std::string kRouter = "10.213.7.2";
const std::string kSilent = "10.213.7.3";
const std::string kUnreachable = "10.213.8.5";
const std::string kBeyondRouter = "10.213.9.7";

using Clock = std::chrono::steady_clock;

TICMPHooks hooksFor(TICMP::SocketKind kind)
{
    TICMPHooks hooks;
    if (kind == TICMP::SocketKind::Datagram)
        hooks.openSocket = [](int type) {
            return type == SOCK_RAW ? -EPERM : openIcmpSocket(type);
        };
    return hooks;
}

std::string kindName(TICMP::SocketKind kind)
{
    return kind == TICMP::SocketKind::Raw ? "Raw" : "Datagram";
}

} // namespace

namespace veltrano {
void PrintTo(TICMP::SocketKind kind, std::ostream *out)
{
    *out << kindName(kind);
}
} // namespace veltrano

namespace {

class IcmpLab : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        m_host = NetNamespace::create(why);
        if (m_host)
            m_router = NetNamespace::create(why);
        if (!m_router)
            GTEST_SKIP() << "network namespaces cannot be made here, so the time-out and "
                            "unreachable echoes are not tested: "
                         << why;
        const std::string router = m_router->name();
        bool built = m_host->ip("link add v0 type veth peer name v1 netns " + router, why)
                && m_host->ip("addr add 10.213.7.1/24 dev v0", why)
                && m_host->ip("link set v0 up", why)
                && m_host->ip("route add 10.213.8.0/24 via 10.213.7.2", why)
                && m_host->ip("route add 10.213.9.0/24 via 10.213.7.2", why)
                && m_host->sysctl("net.ipv4.ping_group_range", "0 2147483647", why)
                && m_router->ip("addr add 10.213.7.2/24 dev v1", why)
                && m_router->ip("link set v1 up", why)
                && m_router->ip("link add v2 type veth peer name v3", why)
                && m_router->ip("addr add 10.213.9.1/24 dev v2", why)
                && m_router->ip("link set v2 up", why) && m_router->ip("link set v3 up", why)
                && m_router->ip("route add unreachable 10.213.8.0/24", why)
                && m_router->sysctl("net.ipv4.ip_forward", "1", why);
        if (!built)
            GTEST_SKIP() << "the test network cannot be built here: " << why;
    }

    // Runs `fn` in the host namespace.
    void onHost(const std::function<void()> &fn) { ASSERT_TRUE(m_host->runInside(fn)); }

    std::unique_ptr<NetNamespace> m_host;
    std::unique_ptr<NetNamespace> m_router;
};

class IcmpLabBySocket : public IcmpLab, public ::testing::WithParamInterface<TICMP::SocketKind>
{
protected:
    // A TICMP on the socket kind under test, made in the host namespace.
    void withIcmp(const std::function<void(TICMP &)> &fn)
    {
        onHost([&] {
            TICMP icmp(hooksFor(GetParam()));
            ASSERT_EQ(icmp.socketKind(), GetParam());
            fn(icmp);
        });
    }
};

} // namespace

TEST_P(IcmpLabBySocket, RouterAnswers)
{
    withIcmp([](TICMP &icmp) {
        icmp.SetAddress(kRouter);
        icmp.SetTimeout(2000);
        EXPECT_EQ(icmp.Ping(), 1) << icmp.ErrorString();
        EXPECT_EQ(icmp.ErrorCode(), 0);
        EXPECT_EQ(icmp.HostName(), kRouter);
        EXPECT_EQ(icmp::formatAddress(ntohl(icmp.Reply().Address)), kRouter);
        EXPECT_EQ(icmp.Reply().DataSize, 56);
        EXPECT_EQ(icmp.Reply().Options.Ttl, 64);
    });
}

TEST_P(IcmpLabBySocket, SilentHostTimesOutWithinTheTimeoutPlus50ms)
{
    withIcmp([](TICMP &icmp) {
        icmp.SetAddress(kSilent);
        icmp.SetTimeout(250);
        for (int echo = 0; echo < 3; ++echo) {
            Clock::time_point start = Clock::now();
            EXPECT_EQ(icmp.Ping(), 0);
            auto blocked =
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
            EXPECT_EQ(icmp.ErrorCode(), 11010);
            EXPECT_EQ(icmp.ErrorString(), "Request timed out");
            EXPECT_GE(blocked.count(), 250'000);
            EXPECT_LE(blocked.count(), 300'000);
            RecordProperty("blocked_us_" + std::to_string(echo), int(blocked.count()));
            std::printf("%s echo to a silent host with a 250 ms time-out blocked %.1f ms\n",
                    kindName(icmp.socketKind()).c_str(), double(blocked.count()) / 1000);
        }
    });
}

TEST_P(IcmpLabBySocket, UnreachableNetworkIsReportedByTheRouter)
{
    withIcmp([](TICMP &icmp) {
        icmp.SetAddress(kUnreachable);
        icmp.SetTimeout(2000);
        Clock::time_point start = Clock::now();
        EXPECT_EQ(icmp.Ping(), 0);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
        EXPECT_EQ(icmp.ErrorCode(), 11003);
        EXPECT_EQ(icmp.ErrorString(), "Destination host unreachable");
        EXPECT_EQ(icmp.Reply().Status, 11003u);
        EXPECT_EQ(icmp::formatAddress(ntohl(icmp.Reply().Address)), kRouter);
    });
}

TEST_P(IcmpLabBySocket, TtlOfTheRequestIsApplied)
{
    withIcmp([](TICMP &icmp) {
        icmp.SetAddress(kBeyondRouter);
        icmp.SetTimeout(300);
        icmp.SetTTL(64);
        EXPECT_EQ(icmp.Ping(), 0);
        EXPECT_EQ(icmp.ErrorCode(), 11010);
        icmp.SetTTL(0x101); // only the low byte counts
        EXPECT_EQ(icmp.Ping(), 0);
        EXPECT_EQ(icmp.ErrorCode(), 11013);
        EXPECT_EQ(icmp.ErrorString(), "TTL expired in transit");
        EXPECT_EQ(icmp::formatAddress(ntohl(icmp.Reply().Address)), kRouter);
    });
}

TEST_P(IcmpLabBySocket, DontFragmentFlagRefusesARequestLargerThanTheLink)
{
    withIcmp([](TICMP &icmp) {
        icmp.SetAddress(kRouter);
        icmp.SetTimeout(2000);
        icmp.SetSize(3000);
        EXPECT_EQ(icmp.Ping(), 1) << icmp.ErrorString();
        EXPECT_EQ(icmp.Reply().DataSize, 3000);
        icmp.SetFlags(0x02);
        EXPECT_EQ(icmp.Ping(), 0);
        EXPECT_EQ(icmp.ErrorCode(), 11009);
        EXPECT_EQ(icmp.ErrorString(), "Packet too big");
        icmp.SetSize(56);
        EXPECT_EQ(icmp.Ping(), 1) << icmp.ErrorString();
    });
}

INSTANTIATE_TEST_SUITE_P(Sockets, IcmpLabBySocket,
        ::testing::Values(TICMP::SocketKind::Raw, TICMP::SocketKind::Datagram),
        [](const auto &info) {
            return kindName(info.param);
        });

// A raw socket sees every ICMP packet of its namespace. With the kernel's own echo replies off,
// forged replies to 127.0.0.1 stand for other programs' traffic and late replies.
TEST_F(IcmpLab, RawSocketCountsOnlyTheReplyToItsOwnRequest)
{
    std::string why;
    ASSERT_TRUE(m_host->sysctl("net.ipv4.icmp_echo_ignore_all", "1", why)) << why;
    onHost([] {
        TICMP icmp(hooksFor(TICMP::SocketKind::Raw));
        ASSERT_EQ(icmp.socketKind(), TICMP::SocketKind::Raw);
        int forger = openIcmpSocket(SOCK_RAW);
        ASSERT_GE(forger, 0);
        auto forge = [&](std::vector<std::pair<uint16_t, uint16_t>> replies) {
            return std::thread([forger, replies] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_addr.s_addr = htonl(0x7F000001);
                for (auto [id, seq] : replies) {
                    std::vector<uint8_t> packet =
                            icmp::buildEchoRequest(id, seq, icmp::echoRequestData(56));
                    packet[0] = icmp::kTypeEchoReply;
                    packet[2] = packet[3] = 0;
                    uint16_t sum = icmp::internetChecksum(packet);
                    packet[2] = uint8_t(sum >> 8);
                    packet[3] = uint8_t(sum);
                    sendto(forger, packet.data(), packet.size(), 0,
                            reinterpret_cast<sockaddr *>(&to), sizeof to);
                }
            });
        };
        icmp.SetAddress("127.0.0.1");
        icmp.SetTimeout(500);
        uint16_t id = icmp.identifier();
        uint16_t seq = uint16_t(icmp.sequence() + 1);

        std::thread others =
                forge({{uint16_t(id + 1), seq}, {id, uint16_t(seq + 1)}, {id, uint16_t(seq - 1)}});
        EXPECT_EQ(icmp.Ping(), 0);
        EXPECT_EQ(icmp.ErrorCode(), 11010);
        others.join();

        std::thread ours = forge({{id, uint16_t(seq + 1)}});
        EXPECT_EQ(icmp.Ping(), 1) << icmp.ErrorString();
        ours.join();
        close(forger);
    });
}

// The system's resolver, in a namespace with nothing but loopback: the look-up cannot leave it.
TEST(IcmpNamespace, UnresolvableNameThroughTheSystemResolverGivesBadDestination)
{
    std::string why;
    std::unique_ptr<NetNamespace> bare = NetNamespace::create(why);
    if (!bare)
        GTEST_SKIP() << "network namespaces cannot be made here, so the system's resolver is not "
                        "asked (it could reach a name server outside): "
                     << why;
    ASSERT_TRUE(bare->runInside([] {
        TICMP icmp;
        icmp.SetAddress("veltrano-icmp-test.invalid");
        EXPECT_EQ(icmp.Ping(), 0);
        EXPECT_EQ(icmp.ErrorCode(), 11018);
        EXPECT_EQ(icmp.ErrorString(), "Bad Destination");
    }));
}
