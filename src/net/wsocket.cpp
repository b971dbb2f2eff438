#include "net/wsocket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>

#include "net/wsockerror.h"

namespace veltrano {

namespace {

// A send buffer block holds at most one Ethernet frame's worth of bytes.
constexpr size_t kBlockSize = 1514;
// Readable events drained per pass through the event loop, so that a fast peer never starves
// timers and other sockets of the same thread.
constexpr int kMaxReceivePasses = 64;

std::string dotted(const in_addr &address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool parseDotted(const std::string &text, in_addr &address)
{
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// Numeric port or service name of the tcp protocol; -1 when unknown.
int resolvePort(const std::string &port)
{
    if (port.empty())
        return -1;
    if (port.find_first_not_of("0123456789") == std::string::npos)
        return port.size() <= 5 && std::stoi(port) <= 65535 ? std::stoi(port) : -1;
    servent result {};
    servent *entry = nullptr;
    char buffer[1024];
    if (getservbyname_r(port.c_str(), "tcp", &result, buffer, sizeof buffer, &entry) != 0 || !entry)
        return -1;
    return ntohs(static_cast<uint16_t>(entry->s_port));
}

// Every IPv4 address of a host, or a Winsock error code.
int lookupHost(const std::string &host, std::vector<std::string> &addresses)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0)
        return winsockErrorFromLookup(rc, errno);
    for (addrinfo *ai = list; ai; ai = ai->ai_next) {
        const std::string text = dotted(reinterpret_cast<sockaddr_in *>(ai->ai_addr)->sin_addr);
        if (std::find(addresses.begin(), addresses.end(), text) == addresses.end())
            addresses.push_back(text);
    }
    freeaddrinfo(list);
    return addresses.empty() ? 11004 : 0;
}

} // namespace

TWSocket::TWSocket(QObject *parent)
    : QObject(parent)
{
}

TWSocket::~TWSocket()
{
    m_lookupPending = false;
    closeHandle();
}

void TWSocket::setState(TSocketState state)
{
    if (state == m_state)
        return;
    const TSocketState old = m_state;
    m_state = state;
    if (OnChangeState)
        OnChangeState(*this, old, state);
}

void TWSocket::AssignDefaultValue()
{
    m_addr.clear();
    m_port.clear();
    m_proto = "tcp";
    m_localAddr = "0.0.0.0";
    m_localPort = "0";
    m_lingerOnOff = wsLingerOn;
    m_lingerTimeout = 0;
}

void TWSocket::RaiseException(const std::string &function, int code)
{
    m_lastError = code;
    if (code == 10054 || code == 10057) {
        closeHandle();
        setState(wsClosed);
    }
    const ESocketException e("Error " + std::to_string(code) + " in function " + function + "\r\n"
                                 + WSocketErrorDesc(code),
                             code);
    if (OnError) {
        OnError(*this, e);
        return;
    }
    throw e;
}

void TWSocket::HandleBackGroundException(const std::exception &e)
{
    if (OnBgException) {
        try {
            OnBgException(*this, e);
        } catch (...) {
        }
        return;
    }
    // Nobody takes it: drop the connection, so that its owner hears of it through the close.
    try {
        Abort();
    } catch (...) {
    }
}

void TWSocket::openHandle(int handle)
{
    m_handle = handle;
    ++m_serial;
    m_closeInvoked = false;
    m_readNotifier = std::make_unique<QSocketNotifier>(handle, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(handle, QSocketNotifier::Write);
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    auto guarded = [this](void (TWSocket::*handler)()) {
        return [this, handler] {
            try {
                (this->*handler)();
            } catch (const std::exception &e) {
                HandleBackGroundException(e);
            }
        };
    };
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, guarded(&TWSocket::onReadable));
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, guarded(&TWSocket::onWritable));
}

// Releases the handle without any event.
void TWSocket::closeHandle()
{
    if (m_readNotifier) {
        m_readNotifier->setEnabled(false);
        m_readNotifier.release()->deleteLater();
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(false);
        m_writeNotifier.release()->deleteLater();
    }
    if (m_handle >= 0)
        ::close(m_handle);
    m_handle = -1;
    ++m_serial;
    m_sendBuffer.clear();
}

void TWSocket::applyLinger()
{
    if (m_lingerOnOff == wsLingerNoSet || m_handle < 0)
        return;
    linger value {};
    value.l_onoff = m_lingerOnOff == wsLingerOn ? 1 : 0;
    value.l_linger = m_lingerTimeout;
    setsockopt(m_handle, SOL_SOCKET, SO_LINGER, &value, sizeof value);
}

int TWSocket::bytesWaiting() const
{
    int count = 0;
    if (m_handle < 0 || ioctl(m_handle, FIONREAD, &count) != 0)
        return 0;
    return count;
}

void TWSocket::DnsLookup(const std::string &host)
{
    if (m_lookupPending) {
        m_lookupPending = false;
        ++m_lookupId;
    }
    m_dnsResult.clear();
    m_dnsResultList.clear();
    if (host.empty())
        throw ESocketException("DNS lookup: invalid host name.");
    in_addr address {};
    if (parseDotted(host, address)) {
        m_dnsResult = dotted(address);
        m_dnsResultList.push_back(m_dnsResult);
        if (OnDnsLookupDone)
            OnDnsLookupDone(*this, 0);
        return;
    }
    const uint64_t id = ++m_lookupId;
    auto result = std::make_shared<std::pair<int, std::vector<std::string>>>();
    QThread *thread = QThread::create([host, result] { result->first = lookupHost(host, result->second); });
    if (!thread) {
        throw ESocketException(host + ": can't start DNS lookup, error #" + std::to_string(10055));
    }
    m_lookupPending = true;
    connect(thread, &QThread::finished, this, [this, id, result] {
        lookupDone(id, result->first, result->second);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void TWSocket::lookupDone(uint64_t id, int error, const std::vector<std::string> &addresses)
{
    if (!m_lookupPending || id != m_lookupId)
        return;
    m_lookupPending = false;
    if (error == 0) {
        m_dnsResultList = addresses;
        m_dnsResult = addresses.front();
    }
    try {
        if (OnDnsLookupDone)
            OnDnsLookupDone(*this, error);
    } catch (const std::exception &e) {
        HandleBackGroundException(e);
    }
}

void TWSocket::CancelDnsLookup()
{
    if (!m_lookupPending)
        return;
    m_lookupPending = false;
    ++m_lookupId;
    if (OnDnsLookupDone)
        OnDnsLookupDone(*this, 10004);
}

void TWSocket::Connect()
{
    if (m_handle >= 0)
        throw ESocketException("Connect: Socket already in use");
    if (m_port.empty())
        throw ESocketException("Connect: No Port Specified");
    if (m_addr.empty())
        throw ESocketException("Connect: No IP Address Specified");
    if (m_proto.empty())
        throw ESocketException("Connect: No Protocol Specified");
    if (m_proto != "tcp")
        throw ESocketException("Connect: Unsupported protocol '" + m_proto + "'");
    const int port = resolvePort(m_port);
    if (port < 0)
        throw ESocketException("Connect: Cannot convert port '" + m_port + "'");
    sockaddr_in remote {};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    if (!parseDotted(m_addr, remote.sin_addr)) {
        std::vector<std::string> found;
        if (const int error = lookupHost(m_addr, found))
            return RaiseException("Connect (gethostbyname)", error);
        parseDotted(found.front(), remote.sin_addr);
    }

    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (handle < 0)
        return RaiseException("socket", winsockErrorFromErrno(errno));
    openHandle(handle);
    const int on = 1;
    setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (m_localPort != "0" || m_localAddr != "0.0.0.0") {
        sockaddr_in local {};
        local.sin_family = AF_INET;
        const int localPort = resolvePort(m_localPort);
        local.sin_port = htons(static_cast<uint16_t>(localPort < 0 ? 0 : localPort));
        if (!parseDotted(m_localAddr, local.sin_addr)
            || ::bind(handle, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
            const int error = winsockErrorFromErrno(errno ? errno : EINVAL);
            closeHandle();
            return RaiseException("bind", error);
        }
    }
    applyLinger();
    setState(wsConnecting);
    if (::connect(handle, reinterpret_cast<sockaddr *>(&remote), sizeof remote) == 0
        || errno == EINPROGRESS) {
        m_writeNotifier->setEnabled(true);
        return;
    }
    // A refusal known at once is reported like one that comes later, through the event loop.
    const int error = winsockErrorFromErrno(errno);
    const uint64_t serial = m_serial;
    QMetaObject::invokeMethod(
        this,
        [this, serial, error] {
            if (serial == m_serial)
                connectDone(error);
        },
        Qt::QueuedConnection);
}

void TWSocket::connectDone(int error)
{
    setState(wsConnected);
    if (error != 0) {
        // A failed connect is reported only here; the close that follows stays silent.
        m_closeInvoked = true;
        const uint64_t serial = m_serial;
        if (OnSessionConnected)
            OnSessionConnected(*this, error);
        if (serial == m_serial)
            InternalClose(false, error);
        return;
    }
    m_readNotifier->setEnabled(true);
    m_writeNotifier->setEnabled(!m_sendBuffer.empty());
    if (OnSessionConnected)
        OnSessionConnected(*this, 0);
}

void TWSocket::Listen()
{
    if (m_port.empty())
        throw ESocketException("listen: port not assigned");
    if (m_proto.empty())
        throw ESocketException("listen: protocol not assigned");
    if (m_addr.empty())
        throw ESocketException("listen: address not assigned");
    if (m_handle >= 0)
        throw ESocketException("listen: Socket already in use");
    const int port = resolvePort(m_port);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port < 0 ? 0 : port));
    if (port < 0 || !parseDotted(m_addr, local.sin_addr))
        return RaiseException("bind", 10049);
    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (handle < 0)
        return RaiseException("socket", winsockErrorFromErrno(errno));
    openHandle(handle);
    const int on = 1;
    setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(handle, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        const int error = winsockErrorFromErrno(errno);
        closeHandle();
        return RaiseException("bind", error);
    }
    if (::listen(handle, 5) != 0) {
        const int error = winsockErrorFromErrno(errno);
        closeHandle();
        return RaiseException("listen", error);
    }
    applyLinger();
    setState(wsListening);
    m_readNotifier->setEnabled(true);
}

int TWSocket::Accept()
{
    if (m_state != wsListening)
        throw ESocketException("not a listening socket");
    const int handle = ::accept4(m_handle, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (handle < 0) {
        const int error = winsockErrorFromErrno(errno);
        if (error == 10035) {
            m_lastError = error;
            return -1;
        }
        RaiseException("Accept", error);
        return -1;
    }
    return handle;
}

void TWSocket::Dup(int handle)
{
    if (m_handle >= 0)
        closeHandle();
    openHandle(handle);
    applyLinger();
    setState(wsConnected);
    m_readNotifier->setEnabled(true);
}

void TWSocket::Close()
{
    InternalClose(true, 0);
}

void TWSocket::Abort()
{
    if (m_lookupPending) {
        m_lookupPending = false;
        ++m_lookupId;
    }
    m_sendBuffer.clear();
    if (m_state == wsConnected && m_handle >= 0) {
        m_lingerOnOff = wsLingerOff;
        linger value {1, 0}; // reset the connection rather than wait for unsent data
        setsockopt(m_handle, SOL_SOCKET, SO_LINGER, &value, sizeof value);
    }
    InternalClose(false, 0);
}

void TWSocket::InternalClose(bool shutdownFirst, int error)
{
    const bool hadHandle = m_handle >= 0;
    if (hadHandle && shutdownFirst && m_state == wsConnected)
        ::shutdown(m_handle, SHUT_WR);
    closeHandle();
    setState(wsClosed);
    AssignDefaultValue();
    if (hadHandle && !m_closeInvoked) {
        m_closeInvoked = true;
        if (OnSessionClosed)
            OnSessionClosed(*this, error);
    }
}

void TWSocket::Shutdown(int how)
{
    if (m_handle >= 0)
        ::shutdown(m_handle, how);
}

int TWSocket::Send(const void *data, size_t length)
{
    if (m_state != wsConnected || m_handle < 0) {
        RaiseException("Send", 10057);
        return -1;
    }
    const char *bytes = static_cast<const char *>(data);
    while (length > 0) {
        if (m_sendBuffer.empty() || m_sendBuffer.back().size() >= kBlockSize)
            m_sendBuffer.emplace_back();
        std::string &block = m_sendBuffer.back();
        const size_t n = std::min(length, kBlockSize - block.size());
        block.append(bytes, n);
        bytes += n;
        length -= n;
    }
    const uint64_t serial = m_serial;
    if (TryToSend() && serial == m_serial) {
        // Everything went out at once: OnDataSent still comes from the event loop.
        QMetaObject::invokeMethod(
            this,
            [this, serial] {
                if (serial == m_serial && m_sendBuffer.empty() && OnDataSent)
                    OnDataSent(*this, 0);
            },
            Qt::QueuedConnection);
    }
    return static_cast<int>(bytes - static_cast<const char *>(data));
}

// Sends from the front of the buffer; true when the buffer is empty afterwards.
bool TWSocket::TryToSend()
{
    while (!m_sendBuffer.empty()) {
        std::string &block = m_sendBuffer.front();
        const ssize_t n = ::send(m_handle, block.data(), block.size(), MSG_NOSIGNAL);
        if (n < 0) {
            const int error = winsockErrorFromErrno(errno);
            if (error == 10035) {
                m_writeNotifier->setEnabled(true);
                return false;
            }
            m_lastError = error;
            if (error == 10022 || error == 10038 || error == 10053 || error == 10054
                || error == 10057) {
                InternalClose(false, error);
                return false;
            }
            throw ESocketException("TryToSend failed", error);
        }
        block.erase(0, static_cast<size_t>(n));
        if (block.empty())
            m_sendBuffer.pop_front();
    }
    return true;
}

int TWSocket::Receive(void *buffer, size_t size)
{
    if (m_handle < 0) {
        m_lastError = 10057;
        return -1;
    }
    const ssize_t n = ::recv(m_handle, buffer, size, 0);
    if (n < 0) {
        m_lastError = winsockErrorFromErrno(errno);
        m_lastReceive = ReceiveDrained;
        return -1;
    }
    // A short read emptied the system's buffer: the receive loop need not ask again.
    m_lastReceive = static_cast<size_t>(n) < size ? ReceiveDrained : ReceiveFull;
    m_readCount += n;
    return static_cast<int>(n);
}

// One pass of data events; false when the handler closed or replaced the connection.
bool TWSocket::receiveLoop(uint64_t serial)
{
    for (int pass = 0; pass < kMaxReceivePasses; ++pass) {
        m_lastError = 0;
        m_lastReceive = ReceiveNone;
        if (OnDataAvailable) {
            OnDataAvailable(*this, 0);
        } else {
            char discard[1024];
            Receive(discard, sizeof discard);
        }
        if (serial != m_serial)
            return false;
        if ((m_options & wsoNoReceiveLoop) || (m_lastError != 0 && m_lastError != 10035))
            return true;
        if (m_lastReceive == ReceiveDrained || (m_lastReceive == ReceiveNone && bytesWaiting() == 0))
            return true;
    }
    return true;
}

void TWSocket::onReadable()
{
    if (m_state == wsListening) {
        if (OnSessionAvailable)
            OnSessionAvailable(*this, 0);
        return;
    }
    if (m_state != wsConnected)
        return;
    const uint64_t serial = m_serial;
    if (bytesWaiting() > 0) {
        if (!receiveLoop(serial) || bytesWaiting() > 0)
            return; // more comes on the next pass of the event loop
    }
    char probe;
    const ssize_t n = ::recv(m_handle, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)))
        return;
    closeEvent(n == 0 ? 0 : winsockErrorFromErrno(errno));
}

void TWSocket::closeEvent(int error)
{
    const uint64_t serial = m_serial;
    // Nothing the peer sent before closing is lost: the handler gets one more look.
    if (!receiveLoop(serial))
        return;
    if (!m_closeInvoked) {
        m_closeInvoked = true;
        if (OnSessionClosed)
            OnSessionClosed(*this, error);
    }
    if (serial == m_serial)
        InternalClose(false, error);
}

void TWSocket::onWritable()
{
    if (m_state == wsConnecting) {
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(m_handle, SOL_SOCKET, SO_ERROR, &error, &length);
        m_writeNotifier->setEnabled(false);
        connectDone(winsockErrorFromErrno(error));
        return;
    }
    if (m_state != wsConnected)
        return;
    const uint64_t serial = m_serial;
    if (!TryToSend() || serial != m_serial)
        return;
    m_writeNotifier->setEnabled(false);
    if (OnDataSent)
        OnDataSent(*this, 0);
}

std::string TWSocket::GetPeerAddr() const
{
    sockaddr_in peer {};
    socklen_t length = sizeof peer;
    if (m_handle < 0 || getpeername(m_handle, reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return "error";
    return dotted(peer.sin_addr);
}

int TWSocket::GetPeerPort() const
{
    sockaddr_in peer {};
    socklen_t length = sizeof peer;
    if (m_handle < 0 || getpeername(m_handle, reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return -1;
    return ntohs(peer.sin_port);
}

bool TWSocket::GetSockName(std::string &addr, uint16_t &port) const
{
    sockaddr_in local {};
    socklen_t length = sizeof local;
    if (m_handle < 0 || getsockname(m_handle, reinterpret_cast<sockaddr *>(&local), &length) != 0)
        return false;
    addr = dotted(local.sin_addr);
    port = ntohs(local.sin_port);
    return true;
}

} // namespace veltrano
