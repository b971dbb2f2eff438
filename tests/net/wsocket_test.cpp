#include <algorithm>
#include <cerrno>
#include <netdb.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eventloop.h"
#include "net/wsockerror.h"
#include "net/wsocket.h"

namespace veltrano {
namespace {

using test::ensureApplication;
using test::runUntil;

TEST(WSocketError, MapsSystemErrorsToWinsockCodesAndTexts)
{
    EXPECT_EQ(winsockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(winsockErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(winsockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(winsockErrorFromErrno(EPIPE), 10054);
    EXPECT_EQ(winsockErrorFromErrno(ECONNABORTED), 10053);
    EXPECT_EQ(winsockErrorFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(winsockErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(winsockErrorFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(winsockErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(winsockErrorFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(winsockErrorFromLookup(EAI_NONAME, 0), 11001);
    EXPECT_EQ(winsockErrorFromLookup(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(winsockErrorFromLookup(EAI_FAIL, 0), 11003);
    EXPECT_EQ(winsockErrorFromLookup(EAI_SYSTEM, ECONNREFUSED), 10061);
    EXPECT_EQ(WSocketErrorDesc(10061), "Connection refused");
    EXPECT_EQ(WSocketErrorDesc(11001), "Host not found");
    EXPECT_EQ(WSocketErrorDesc(0), "No Error");
    EXPECT_EQ(WSocketErrorDesc(winsockErrorFromErrno(EIO)), "Not a WinSock error");
}

// A listening socket on 127.0.0.1 that adopts the first connection into `accepted`.
struct Loopback
{
    TWSocket listener;
    TWSocket accepted;
    uint16_t port = 0;

    Loopback()
    {
        ensureApplication();
        listener.SetAddr("127.0.0.1");
        listener.SetPort("0");
        listener.OnSessionAvailable = [this](TWSocket &, int) {
            const int handle = listener.Accept();
            if (handle >= 0)
                accepted.Dup(handle);
        };
        listener.Listen();
        std::string addr;
        listener.GetSockName(addr, port);
    }

    void connect(TWSocket &client)
    {
        client.SetAddr("127.0.0.1");
        client.SetPort(std::to_string(port));
        client.Connect();
    }
};

TEST(WSocket, DottedHostIsLookedUpBeforeTheCallReturnsAndNamesLater)
{
    ensureApplication();
    TWSocket socket;
    std::vector<int> errors;
    socket.OnDnsLookupDone = [&](TWSocket &, int error) { errors.push_back(error); };
    socket.DnsLookup("127.0.0.1");
    ASSERT_EQ(errors, std::vector<int> {0});
    EXPECT_EQ(socket.DnsResult(), "127.0.0.1");

    socket.DnsLookup("localhost");
    EXPECT_EQ(errors.size(), 1u) << "a name is looked up off the thread";
    ASSERT_TRUE(runUntil([&] { return errors.size() == 2; }));
    EXPECT_EQ(errors[1], 0);
    EXPECT_EQ(socket.DnsResult(), "127.0.0.1");

    socket.DnsLookup("localhost");
    socket.CancelDnsLookup();
    EXPECT_EQ(errors.back(), 10004);
    runUntil([] { return false; }, 200);
    EXPECT_EQ(errors.size(), 3u) << "a cancelled look-up reports nothing more";

    EXPECT_THROW(socket.DnsLookup(""), ESocketException);
}

TEST(WSocket, DataThatComesWithTheCloseIsDeliveredFirstAndCloseFiresOnce)
{
    Loopback loop;
    TWSocket client;
    std::vector<std::string> events;
    std::string received;
    client.OnSessionConnected = [&](TWSocket &, int error) { events.push_back("connected " + std::to_string(error)); };
    client.OnDataAvailable = [&](TWSocket &s, int) {
        char buffer[3]; // small reads: the loop must come back for the rest
        const int n = s.Receive(buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, n);
        events.push_back("data");
    };
    client.OnSessionClosed = [&](TWSocket &, int error) { events.push_back("closed " + std::to_string(error)); };
    loop.connect(client);
    ASSERT_TRUE(runUntil([&] { return loop.accepted.State() == wsConnected && !events.empty(); }));

    loop.accepted.SendStr("hello, world");
    loop.accepted.Close();
    ASSERT_TRUE(runUntil([&] { return client.State() == wsClosed; }));
    EXPECT_EQ(received, "hello, world");
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), "connected 0");
    EXPECT_EQ(events.back(), "closed 0");
    EXPECT_EQ(std::count(events.begin(), events.end(), "closed 0"), 1);
    client.Close();
    EXPECT_EQ(std::count(events.begin(), events.end(), "closed 0"), 1);
}

TEST(WSocket, ClosedFiresOnceWhenTheProgramClosesFromItsOwnHandler)
{
    Loopback loop;
    TWSocket client;
    int closed = 0;
    client.OnSessionConnected = [&](TWSocket &s, int) {
        s.Close();
        s.Close();
    };
    client.OnSessionClosed = [&](TWSocket &, int) { ++closed; };
    loop.connect(client);
    ASSERT_TRUE(runUntil([&] { return client.State() == wsClosed && closed > 0; }));
    runUntil([] { return false; }, 100);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(client.Addr().empty()) << "a close forgets the address";
    EXPECT_EQ(client.Proto(), "tcp");
}

TEST(WSocket, LargeSendCompletesInOrderOverSeveralWriteEvents)
{
    Loopback loop;
    TWSocket client;
    std::string sent(8 * 1024 * 1024, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>(i * 7 + i / 4096);
    std::string received;
    loop.accepted.OnDataAvailable = [&](TWSocket &s, int) {
        char buffer[65536];
        const int n = s.Receive(buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, n);
    };
    int dataSent = 0;
    client.OnDataSent = [&](TWSocket &, int) { ++dataSent; };
    loop.connect(client);
    ASSERT_TRUE(runUntil([&] { return client.State() == wsConnected; }));
    client.Send(sent.data(), sent.size());
    EXPECT_FALSE(client.AllSent()) << "more than the system buffers take at once";
    ASSERT_TRUE(runUntil([&] { return received.size() == sent.size(); }, 20000));
    EXPECT_TRUE(received == sent);
    ASSERT_TRUE(runUntil([&] { return dataSent == 1; }));
    EXPECT_TRUE(client.AllSent());
}

TEST(WSocket, RefusedConnectReportsOnlyThroughTheConnectedEvent)
{
    uint16_t freePort = 0;
    {
        Loopback probe; // a port that was just free; nobody listens once it closes
        freePort = probe.port;
    }
    TWSocket client;
    std::vector<std::string> events;
    client.OnSessionConnected = [&](TWSocket &, int error) { events.push_back("connected " + std::to_string(error)); };
    client.OnSessionClosed = [&](TWSocket &, int error) { events.push_back("closed " + std::to_string(error)); };
    client.SetAddr("127.0.0.1");
    client.SetPort(std::to_string(freePort));
    client.Connect();
    ASSERT_TRUE(runUntil([&] { return !events.empty() && client.State() == wsClosed; }));
    runUntil([] { return false; }, 100);
    EXPECT_EQ(events, std::vector<std::string> {"connected 10061"});
}

TEST(WSocket, MisuseRaisesTheFixedTexts)
{
    ensureApplication();
    TWSocket socket;
    auto message = [&](auto call) {
        try {
            call();
        } catch (const ESocketException &e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(message([&] { socket.Connect(); }), "Connect: No Port Specified");
    socket.SetPort("21");
    EXPECT_EQ(message([&] { socket.Connect(); }), "Connect: No IP Address Specified");
    EXPECT_EQ(message([&] { socket.SendStr("x"); }), "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(message([&] { socket.Accept(); }), "not a listening socket");
    TWSocket listener;
    EXPECT_EQ(message([&] { listener.Listen(); }), "listen: port not assigned");
}

} // namespace
} // namespace veltrano
