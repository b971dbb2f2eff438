#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/icmppacket.h"

namespace veltrano {

// The IP options of a reply record.
struct TIPOptionInformation
{
    uint8_t Ttl = 0;
    uint8_t Tos = 0;
    uint8_t Flags = 0;
    uint8_t OptionsSize = 0;
    uint32_t OptionsData = 0; // option bytes are not kept: always 0
};

// The first reply record of the last echo, laid out as the ICMP service reports it.
struct TIcmpEchoReply
{
    uint32_t Address = 0; // who answered, or the router that reported an error; network order
    uint32_t Status = 0; // 0 for an echo reply, else the status code of the ICMP error
    uint32_t RoundTripTime = 0; // milliseconds
    uint16_t DataSize = 0; // bytes of echo data in the reply
    uint16_t Reserved = 0;
    uint32_t Data = 0; // reply data is not kept: always 0
    TIPOptionInformation Options; // Options.Ttl is the TTL the reply arrived with
};
static_assert(sizeof(TIcmpEchoReply) == 28);

// A host found by name: its first IPv4 address (host order) and its official name.
struct THostEntry
{
    uint32_t address = icmp::kAddrNone;
    std::string officialName;
};

// Opens an ICMP socket of `type` (SOCK_RAW or SOCK_DGRAM) in the calling thread's network
// namespace; returns the descriptor or -errno.
int openIcmpSocket(int type);
// Looks a host name up through the system's resolver (blocking, no time limit of its own).
std::optional<THostEntry> lookUpHostName(const std::string &name);

// How TICMP reaches the system; tests replace them to take the datagram or the no-socket path
// and to count or steer name look-ups.
struct TICMPHooks
{
    std::function<int(int type)> openSocket = openIcmpSocket;
    std::function<std::optional<THostEntry>(const std::string &name)> lookUpHost = lookUpHostName;
};

// One ICMP echo at a time, answered synchronously: Ping() blocks its caller until the reply
// arrives or Timeout milliseconds pass (plus the name look-up when Address is a name).
//
// The socket is opened when the object is made: a raw ICMP socket where the process may, else
// an ICMP datagram socket where the system allows it for the process's group. When neither can
// be had the object still works: every echo returns 0 and ErrorString() says why.
//
// Replies are matched to the request by sender, identifier and sequence, so echoes meant for
// other programs, our own request looped back and late replies to an earlier echo are ignored.
//
// Not thread-safe: one object belongs to one thread. Events run inside Ping(), on that thread.
class TICMP
{
public:
    enum class SocketKind {
        None,
        Raw,
        Datagram
    };

    explicit TICMP(TICMPHooks hooks = {});
    ~TICMP();
    TICMP(const TICMP &) = delete;
    TICMP &operator=(const TICMP &) = delete;

    // A host name, a dotted address, or the whole address as one unsigned decimal number.
    // Setting another text forgets the resolution; setting the same text again keeps it.
    const std::string &Address() const { return m_address; }
    void SetAddress(const std::string &address);

    int Size() const { return m_size; } // bytes of echo data; its low 16 bits are sent
    void SetSize(int size) { m_size = size; }
    int Timeout() const { return m_timeout; } // milliseconds one echo waits
    void SetTimeout(int timeout) { m_timeout = timeout; }
    int TTL() const { return m_ttl; } // its low byte is the request's time-to-live
    void SetTTL(int ttl) { m_ttl = ttl; }
    int Flags() const { return m_flags; } // IP header flags; 0x02 forbids fragmenting
    void SetFlags(int flags) { m_flags = flags; }

    // Sends one echo request; returns the number of echo replies received (0 or 1). An ICMP
    // error about the request (host unreachable, TTL expired) is no reply: 0, with its status.
    int Ping();
    // Resolves Address without sending anything: numeric forms need no look-up.
    void ResolveAddr();

    bool Resolved() const { return m_resolved; }
    const std::string &HostName() const { return m_hostName; }
    const std::string &HostIP() const { return m_hostIP; }
    const TIcmpEchoReply &Reply() const { return m_reply; }
    // 0, a status code of the table of icmp::ErrorString, or an errno value when the system
    // refused (no socket, a failed send); ErrorString() then gives the system's reason.
    int ErrorCode() const { return m_errorCode; }
    std::string ErrorString() const;

    SocketKind socketKind() const { return m_kind; }
    // The identifier of our requests (the system picks it for a datagram socket) and the
    // sequence number of the last one.
    uint16_t identifier() const { return m_identifier; }
    uint16_t sequence() const { return m_sequence; }

    std::function<void(TICMP &sender, const std::string &msg)> OnDisplay;
    std::function<void(TICMP &sender)> OnEchoRequest;
    std::function<void(TICMP &sender, int result)> OnEchoReply;

private:
    void openSocket();
    void display(const std::string &msg);
    int sendEcho(std::span<const uint8_t> data);
    void applyRequestOptions();
    std::optional<icmp::Answer> waitForAnswer(
            const icmp::EchoKey &key, std::chrono::steady_clock::time_point deadline);
    void discardPending();
    void clearPendingError();
    bool readErrorQueue(const icmp::EchoKey &key, icmp::Answer &answer);
    bool readPackets(const icmp::EchoKey &key, icmp::Answer &answer);
    void setSystemError(int error, const std::string &context);
    void setLocalFailure(int error);

    TICMPHooks m_hooks;
    int m_socket = -1;
    SocketKind m_kind = SocketKind::None;
    int m_openError = 0;
    std::string m_openErrorText;
    uint16_t m_identifier = 0;
    uint16_t m_sequence = 0;

    std::string m_address;
    std::string m_hostName;
    std::string m_hostIP;
    uint32_t m_ip = icmp::kAddrNone;
    bool m_resolved = false;

    int m_size = 56;
    int m_timeout = 4000;
    int m_ttl = 64;
    int m_flags = 0;

    TIcmpEchoReply m_reply;
    int m_errorCode = 0;
    std::string m_systemError; // why, when m_errorCode is an errno value
    std::vector<uint8_t> m_receiveBuffer;
};

} // namespace veltrano
