#include <map>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "cache/myutils.h"
#include "net/icmp.h"
#include "net/ping.h"
#include "util/resstr.h"

using namespace veltrano;

namespace {

// A stand-in for the system: which sockets open, and a resolver that counts its look-ups.
struct FakeSystem
{
    bool raw = false;
    bool datagram = false;
    int lookUps = 0;
    std::map<std::string, THostEntry> hosts;

    TICMPHooks hooks()
    {
        TICMPHooks hooks;
        hooks.openSocket = [this](int type) {
            if (type == SOCK_RAW)
                return raw ? openIcmpSocket(type) : -EPERM;
            return datagram ? openIcmpSocket(type) : -EACCES;
        };
        hooks.lookUpHost = [this](const std::string &name) -> std::optional<THostEntry> {
            ++lookUps;
            auto found = hosts.find(name);
            if (found == hosts.end())
                return std::nullopt;
            return found->second;
        };
        return hooks;
    }
};

constexpr uint32_t kLoopback = 0x7F000001;

std::string replyAddress(const TICMP &icmp)
{
    return icmp::formatAddress(ntohl(icmp.Reply().Address));
}

} // namespace

TEST(Icmp, LoopbackAnswersWithoutANameLookUp)
{
    FakeSystem system;
    system.raw = true;
    system.datagram = true;
    TICMP icmp(system.hooks());
    if (icmp.socketKind() == TICMP::SocketKind::None)
        GTEST_SKIP() << "this process may open neither a raw nor an ICMP datagram socket";

    std::vector<std::string> events;
    icmp.OnEchoRequest = [&](TICMP &) {
        events.push_back("request");
    };
    icmp.OnEchoReply = [&](TICMP &, int result) {
        events.push_back("reply " + std::to_string(result));
    };
    icmp.SetAddress("127.0.0.1");
    icmp.SetTimeout(1000);
    for (int echo = 0; echo < 2; ++echo) {
        EXPECT_EQ(icmp.Ping(), 1);
        EXPECT_EQ(icmp.ErrorCode(), 0);
        EXPECT_EQ(icmp.ErrorString(), "No error");
    }
    EXPECT_EQ(system.lookUps, 0);
    EXPECT_EQ(icmp.HostName(), "127.0.0.1");
    EXPECT_EQ(icmp.HostIP(), "127.0.0.1");
    EXPECT_EQ(replyAddress(icmp), "127.0.0.1");
    EXPECT_EQ(icmp.Reply().Status, 0u);
    EXPECT_EQ(icmp.Reply().DataSize, 56);
    EXPECT_LT(icmp.Reply().RoundTripTime, 1000u);
    EXPECT_EQ(icmp.sequence(), 2);
    EXPECT_EQ(events, (std::vector<std::string>{"request", "reply 1", "request", "reply 1"}));
}

TEST(Icmp, DecimalAddressResolvesWithoutALookUp)
{
    FakeSystem system; // no socket at all: nothing can be sent by accident
    TICMP icmp(system.hooks());
    icmp.SetAddress("3232235786");
    icmp.ResolveAddr();
    EXPECT_TRUE(icmp.Resolved());
    EXPECT_EQ(icmp.HostIP(), "192.168.1.10");
    EXPECT_EQ(icmp.HostName(), "3232235786");

    // The form the on-line status passes: a node's dotted address as one decimal number.
    for (const char *dotted : {"192.168.0.1", "10.0.0.254", "172.16.5.9"}) {
        icmp.SetAddress(std::to_string(AddrToNumber(dotted)));
        icmp.ResolveAddr();
        EXPECT_EQ(icmp.HostIP(), dotted);
    }
    EXPECT_EQ(system.lookUps, 0);
}

TEST(Icmp, UnresolvableNameGivesBadDestinationAndIsTriedAgain)
{
    FakeSystem system;
    TICMP icmp(system.hooks());
    std::vector<std::string> shown;
    int echoEvents = 0;
    icmp.OnDisplay = [&](TICMP &, const std::string &msg) {
        shown.push_back(msg);
    };
    icmp.OnEchoRequest = [&](TICMP &) {
        ++echoEvents;
    };
    icmp.SetAddress("nowhere.invalid");
    for (int echo = 1; echo <= 2; ++echo) {
        EXPECT_EQ(icmp.Ping(), 0);
        EXPECT_EQ(icmp.ErrorCode(), 11018);
        EXPECT_EQ(icmp.ErrorString(), "Bad Destination");
        EXPECT_EQ(system.lookUps, echo);
    }
    EXPECT_FALSE(icmp.Resolved());
    EXPECT_EQ(icmp.HostIP(), "");
    EXPECT_EQ(echoEvents, 0);
    EXPECT_EQ(shown,
            (std::vector<std::string>{"Unable to resolve nowhere.invalid", "Invalid host address",
                    "Unable to resolve nowhere.invalid", "Invalid host address"}));
}

TEST(Icmp, ResolutionIsKeptUntilTheAddressChanges)
{
    FakeSystem system;
    system.hosts["alpha"] = THostEntry{kLoopback, "alpha.example.test"};
    system.hosts["beta"] = THostEntry{kLoopback + 1, "beta.example.test"};
    TICMP icmp(system.hooks());

    icmp.SetAddress("alpha");
    icmp.Ping();
    icmp.SetAddress("alpha");
    icmp.Ping();
    EXPECT_EQ(system.lookUps, 1);
    EXPECT_EQ(icmp.HostName(), "alpha.example.test");
    EXPECT_EQ(icmp.HostIP(), "127.0.0.1");

    icmp.SetAddress("beta");
    icmp.SetAddress("alpha");
    icmp.Ping();
    EXPECT_EQ(system.lookUps, 2);
    icmp.SetAddress("Alpha"); // names compare exactly
    icmp.Ping();
    EXPECT_EQ(system.lookUps, 3);
}

TEST(Icmp, WithoutAnySocketEchoesReportNoAnswerAndWhy)
{
    FakeSystem system;
    TICMP icmp(system.hooks());
    EXPECT_EQ(icmp.socketKind(), TICMP::SocketKind::None);
    std::vector<int> results;
    icmp.OnEchoReply = [&](TICMP &, int result) {
        results.push_back(result);
    };
    icmp.SetAddress("127.0.0.1");
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(icmp.ErrorCode(), EACCES);
    std::string why = icmp.ErrorString();
    EXPECT_NE(why.find("CAP_NET_RAW (" + ErrorText(EPERM) + ")"), std::string::npos) << why;
    EXPECT_NE(why.find("ping_group_range (" + ErrorText(EACCES) + ")"), std::string::npos) << why;
    EXPECT_EQ(icmp.Reply().Address, 0u);
    EXPECT_EQ(results, std::vector<int>{0});

    // A later unresolvable address still reads as such, not as the missing socket.
    icmp.SetAddress("nowhere.invalid");
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(icmp.ErrorString(), "Bad Destination");
}

TEST(Icmp, DatagramSocketAnswersWhereTheSystemAllowsIt)
{
    FakeSystem system;
    system.datagram = true;
    TICMP icmp(system.hooks());
    if (icmp.socketKind() != TICMP::SocketKind::Datagram)
        GTEST_SKIP() << "ICMP datagram sockets are not allowed for this group here "
                        "(net.ipv4.ping_group_range); the namespace tests cover them";
    icmp.SetAddress("127.0.0.1");
    icmp.SetSize(10);
    EXPECT_EQ(icmp.Ping(), 1);
    EXPECT_EQ(icmp.Reply().DataSize, 10);
    EXPECT_EQ(icmp.Reply().Options.Ttl, 64);
}

TEST(Ping, ForwardsSettingsAndResultsAndEmitsTheEchoEvents)
{
    FakeSystem system;
    system.hosts["alpha"] = THostEntry{kLoopback, "alpha.example.test"};
    TPing ping(nullptr, system.hooks());
    EXPECT_EQ(ping.Size(), 56);
    EXPECT_EQ(ping.Timeout(), 4000);
    EXPECT_EQ(ping.TTL(), 64);
    EXPECT_EQ(ping.Flags(), 0);
    ping.SetSize(32);
    ping.SetTimeout(250);
    ping.SetTTL(3);
    ping.SetFlags(2);
    EXPECT_EQ(ping.icmp().Size(), 32);
    EXPECT_EQ(ping.icmp().Timeout(), 250);
    EXPECT_EQ(ping.icmp().TTL(), 3);
    EXPECT_EQ(ping.icmp().Flags(), 2);

    QStringList events;
    QObject receiver;
    QObject::connect(&ping, &TPing::OnDisplay, &receiver,
            [&](TPing *sender, TICMP *icmp, const QString &msg) {
                EXPECT_EQ(sender, &ping);
                EXPECT_EQ(icmp, &ping.icmp());
                events << "display " + msg;
            });
    QObject::connect(&ping, &TPing::OnEchoRequest, &receiver, [&](TPing *, TICMP *) {
        events << "request";
    });
    QObject::connect(&ping, &TPing::OnEchoReply, &receiver, [&](TPing *, TICMP *, int error) {
        events << "reply " + QString::number(error);
    });

    ping.SetAddress("nowhere.invalid");
    EXPECT_EQ(ping.Ping(), 0);
    EXPECT_EQ(ping.ErrorCode(), 11018);
    EXPECT_EQ(ping.ErrorString(), "Bad Destination");
    ping.SetAddress("alpha");
    EXPECT_EQ(ping.Ping(), 0); // no socket here
    EXPECT_EQ(ping.HostName(), "alpha.example.test");
    EXPECT_EQ(ping.HostIP(), "127.0.0.1");
    EXPECT_EQ(ping.Address(), "alpha");
    EXPECT_EQ(events,
            (QStringList{"display Unable to resolve nowhere.invalid",
                    "display Invalid host address", "request", "reply 0"}));
}
