#include "net/icmp.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "util/resstr.h"

namespace veltrano {

using namespace icmp;
using Clock = std::chrono::steady_clock;

namespace {

// Large enough for any IPv4 datagram, so that no packet is cut short.
constexpr size_t kReceiveBufferSize = 65536;
constexpr int kIpFlagDontFragment = 0x02;

// Identifiers of raw-socket requests: one per object, starting at a random value so that two
// processes running this code are unlikely to share one.
uint16_t nextIdentifier()
{
    static std::atomic<uint16_t> next{uint16_t(std::random_device{}())};
    return next.fetch_add(1, std::memory_order_relaxed);
}

sockaddr_in socketAddress(uint32_t address)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address);
    return result;
}

int remainingMilliseconds(Clock::time_point deadline)
{
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, 0x7FFFFFFF));
}

// Send and local errors the status table has a code for.
std::optional<int> statusForErrno(int error)
{
    switch (error) {
    case ENETUNREACH:
        return kDestNetUnreachable;
    case EHOSTUNREACH:
        return kDestHostUnreachable;
    case EMSGSIZE:
        return kPacketTooBig;
    default:
        return std::nullopt;
    }
}

// A message header that receives into `buffer`, the sender's or target's address into `address`
// and ancillary data into `control`.
msghdr receiveMessage(sockaddr_in &address, iovec &buffer, std::span<char> control)
{
    msghdr message{};
    message.msg_name = &address;
    message.msg_namelen = sizeof address;
    message.msg_iov = &buffer;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    return message;
}

} // namespace

int openIcmpSocket(int type)
{
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
    return fd >= 0 ? fd : -errno;
}

std::optional<THostEntry> lookUpHostName(const std::string &name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo *list = nullptr;
    if (name.empty() || getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || !list)
        return std::nullopt;
    THostEntry entry;
    entry.address = ntohl(reinterpret_cast<const sockaddr_in *>(list->ai_addr)->sin_addr.s_addr);
    entry.officialName = list->ai_canonname ? list->ai_canonname : name;
    freeaddrinfo(list);
    return entry;
}

TICMP::TICMP(TICMPHooks hooks)
    : m_hooks(std::move(hooks))
    , m_identifier(nextIdentifier())
    , m_receiveBuffer(kReceiveBufferSize)
{
    openSocket();
}

TICMP::~TICMP()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

void TICMP::openSocket()
{
    int raw = m_hooks.openSocket ? m_hooks.openSocket(SOCK_RAW) : -EPERM;
    if (raw >= 0) {
        m_socket = raw;
        m_kind = SocketKind::Raw;
        // A raw socket sees every ICMP packet of the host: let only replies and errors through.
        icmp_filter filter{};
        filter.data = ~uint32_t((1u << kTypeEchoReply) | (1u << kTypeDestUnreachable)
                | (1u << kTypeSourceQuench) | (1u << kTypeTimeExceeded)
                | (1u << kTypeParamProblem));
        // Without the filter the socket only reads more packets to skip.
        setsockopt(m_socket, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
        return;
    }
    int datagram = m_hooks.openSocket ? m_hooks.openSocket(SOCK_DGRAM) : -EPERM;
    if (datagram >= 0) {
        m_socket = datagram;
        m_kind = SocketKind::Datagram;
        // A datagram socket reports ICMP errors only through its error queue, and the TTL of a
        // reply only when asked; without them an echo still works, with less to report.
        int on = 1;
        setsockopt(m_socket, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        setsockopt(m_socket, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
        return;
    }
    m_openError = -datagram;
    m_openErrorText = "No ICMP socket can be opened: a raw socket needs CAP_NET_RAW ("
            + ErrorText(-raw) + "), an ICMP datagram socket needs the group in "
            + "net.ipv4.ping_group_range (" + ErrorText(-datagram) + ")";
}

void TICMP::SetAddress(const std::string &address)
{
    if (address == m_address)
        return;
    m_address = address;
    m_resolved = false;
}

void TICMP::display(const std::string &msg)
{
    if (OnDisplay)
        OnDisplay(*this, msg);
}

void TICMP::ResolveAddr()
{
    m_ip = kAddrNone;
    m_hostName.clear();
    m_hostIP.clear();
    if (std::optional<uint32_t> numeric = parseNumericAddress(m_address)) {
        m_ip = *numeric;
        m_hostName = m_address;
    } else {
        std::optional<THostEntry> entry;
        if (m_hooks.lookUpHost)
            entry = m_hooks.lookUpHost(m_address);
        if (!entry) {
            display("Unable to resolve " + m_address);
            return;
        }
        m_ip = entry->address;
        m_hostName = entry->officialName;
    }
    m_hostIP = formatAddress(m_ip);
    m_resolved = true;
}

int TICMP::Ping()
{
    m_errorCode = 0;
    m_systemError.clear();
    if (!m_resolved)
        ResolveAddr();
    if (m_ip == kAddrNone) {
        m_errorCode = kBadDestination;
        display("Invalid host address");
        return 0;
    }
    std::vector<uint8_t> data = echoRequestData(uint16_t(m_size));
    m_reply = {};
    if (OnEchoRequest)
        OnEchoRequest(*this);
    int result = sendEcho(data);
    if (OnEchoReply)
        OnEchoReply(*this, result);
    return result;
}

std::string TICMP::ErrorString() const
{
    return m_systemError.empty() ? icmp::ErrorString(m_errorCode) : m_systemError;
}

void TICMP::setSystemError(int error, const std::string &context)
{
    m_errorCode = error;
    m_systemError = context + ErrorText(error);
}

void TICMP::setLocalFailure(int error)
{
    if (std::optional<int> status = statusForErrno(error)) {
        m_errorCode = *status;
        m_reply.Status = uint32_t(*status);
    } else {
        setSystemError(error, "Cannot send the echo request: ");
    }
}

void TICMP::applyRequestOptions()
{
    int ttl = m_ttl & 0xFF;
    setsockopt(m_socket, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    int pmtu = (m_flags & kIpFlagDontFragment) ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    setsockopt(m_socket, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu);
}

// Whatever arrived since the last echo (other hosts' traffic, late replies, old errors) is
// dropped, so that it cannot crowd our reply out of the socket's buffer.
void TICMP::discardPending()
{
    // Bounded, so that a flood of other traffic cannot keep the caller here.
    constexpr int kMaxDiscarded = 4096;
    for (int flags : {int(MSG_DONTWAIT), MSG_DONTWAIT | MSG_ERRQUEUE}) {
        for (int i = 0; i < kMaxDiscarded; ++i) {
            if (::recv(m_socket, m_receiveBuffer.data(), m_receiveBuffer.size(), flags) < 0
                    && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
        }
    }
    clearPendingError();
}

// A socket error that nobody reads would wake every later wait at once.
void TICMP::clearPendingError()
{
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length);
}

int TICMP::sendEcho(std::span<const uint8_t> data)
{
    if (m_socket < 0) {
        m_errorCode = m_openError;
        m_systemError = m_openErrorText;
        return 0;
    }
    discardPending();
    applyRequestOptions();
    ++m_sequence;
    std::vector<uint8_t> packet = buildEchoRequest(m_identifier, m_sequence, data);
    sockaddr_in to = socketAddress(m_ip);
    Clock::time_point start = Clock::now();
    Clock::time_point deadline = start + std::chrono::milliseconds(std::max(m_timeout, 0));
    if (::sendto(m_socket, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to),
                sizeof to)
            < 0) {
        setLocalFailure(errno);
        return 0;
    }

    EchoKey key;
    key.target = m_ip;
    if (m_kind == SocketKind::Raw)
        key.identifier = m_identifier;
    key.sequence = m_sequence;
    std::optional<Answer> answer = waitForAnswer(key, deadline);
    if (!answer) {
        if (m_errorCode == 0) {
            m_errorCode = kRequestTimedOut;
            m_reply.Status = kRequestTimedOut;
        }
        return 0;
    }

    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    m_reply.Address = htonl(answer->from);
    m_reply.RoundTripTime = uint32_t(elapsed.count());
    m_reply.Options.Ttl = answer->ttl;
    if (answer->kind == Answer::EchoReply) {
        m_reply.DataSize = uint16_t(answer->dataSize);
        return 1;
    }
    m_errorCode = answer->status;
    m_reply.Status = uint32_t(answer->status);
    return 0;
}

// The reply or ICMP error that answers our request; nothing when the deadline passes first or
// waiting fails (the error code is then set).
std::optional<Answer> TICMP::waitForAnswer(const EchoKey &key, Clock::time_point deadline)
{
    Answer answer;
    while (true) {
        pollfd waiting{m_socket, POLLIN, 0};
        int ready = ::poll(&waiting, 1, remainingMilliseconds(deadline));
        if (ready < 0 && errno != EINTR) {
            setSystemError(errno, "Cannot wait for the echo reply: ");
            return std::nullopt;
        }
        if (ready > 0 && (waiting.revents & POLLERR)) {
            if (readErrorQueue(key, answer))
                return answer;
            clearPendingError();
        }
        if (ready > 0 && (waiting.revents & POLLIN) && readPackets(key, answer))
            return answer;
        if (Clock::now() >= deadline)
            return std::nullopt;
    }
}

// Reads the packets that wait on the socket until one answers our request.
bool TICMP::readPackets(const EchoKey &key, Answer &answer)
{
    while (true) {
        sockaddr_in from{};
        iovec buffer{m_receiveBuffer.data(), m_receiveBuffer.size()};
        alignas(cmsghdr) char control[64];
        msghdr message = receiveMessage(from, buffer, control);
        ssize_t received = ::recvmsg(m_socket, &message, MSG_DONTWAIT);
        if (received < 0) {
            // EAGAIN: nothing more. A datagram socket also hands over a pending ICMP error once
            // here; the error queue has told us already whether it concerns our request.
            return false;
        }
        std::span<const uint8_t> packet(m_receiveBuffer.data(), size_t(received));
        bool raw = m_kind == SocketKind::Raw;
        answer = readAnswer(packet, raw, ntohl(from.sin_addr.s_addr), key);
        if (answer.kind == Answer::Unrelated)
            continue;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c && !raw; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
                int ttl = 0;
                std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
                answer.ttl = uint8_t(ttl);
            }
        }
        return true;
    }
}

// Reads the error queue of a datagram socket until an error about our request turns up. The
// queued packet is the request the error is about, so its sequence tells ours from old ones.
bool TICMP::readErrorQueue(const EchoKey &key, Answer &answer)
{
    while (true) {
        sockaddr_in target{};
        iovec buffer{m_receiveBuffer.data(), m_receiveBuffer.size()};
        alignas(cmsghdr) char control[256];
        msghdr message = receiveMessage(target, buffer, control);
        ssize_t received = ::recvmsg(m_socket, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (received < 0)
            return false;
        const sock_extended_err *error = nullptr;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR)
                error = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(c));
        }
        std::span<const uint8_t> request(m_receiveBuffer.data(), size_t(received));
        if (!error || request.size() < kIcmpHeaderSize || request[0] != kTypeEchoRequest
                || (request[6] << 8 | request[7]) != key.sequence
                || ntohl(target.sin_addr.s_addr) != key.target)
            continue;
        answer = {};
        answer.kind = Answer::Error;
        if (error->ee_origin == SO_EE_ORIGIN_ICMP) {
            answer.status = statusForIcmpError(error->ee_type, error->ee_code);
            sockaddr_in offender;
            std::memcpy(&offender, SO_EE_OFFENDER(error), sizeof offender);
            answer.from = ntohl(offender.sin_addr.s_addr);
        } else {
            answer.status = statusForErrno(int(error->ee_errno)).value_or(kGeneralFailure);
        }
        return true;
    }
}

} // namespace veltrano
