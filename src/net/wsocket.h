#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QObject>

#include "util/error.h"

class QSocketNotifier;

namespace veltrano {

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

// ComponentOptions bits.
constexpr unsigned wsoNoReceiveLoop = 1; // one OnDataAvailable per readable event

// Raised by the socket for misuse and failed system calls; the message is complete.
class ESocketException : public Error
{
public:
    explicit ESocketException(const std::string &message, int code = 0)
        : Error(message)
        , m_code(code)
    {
    }
    int code() const { return m_code; }

private:
    int m_code;
};

// A non-blocking TCP/IPv4 socket that lives on the thread that created it and reports through
// callbacks run from that thread's Qt event loop. Events of one connection arrive in this
// order: connected; data available (repeated while bytes wait); closed, exactly once per
// connection, and only after every byte that came with the peer's close has been offered to
// OnDataAvailable. A handler may call Close, Abort or Connect from inside any event.
// Host look-ups run on a helper thread and report back through the event loop.
class TWSocket : public QObject
{
    Q_OBJECT

public:
    using TSocketEvent = std::function<void(TWSocket &sender, int error)>;
    using TChangeStateEvent
        = std::function<void(TWSocket &sender, TSocketState oldState, TSocketState newState)>;
    using TErrorEvent = std::function<void(TWSocket &sender, const ESocketException &e)>;
    using TBgExceptionEvent = std::function<void(TWSocket &sender, const std::exception &e)>;

    explicit TWSocket(QObject *parent = nullptr);
    ~TWSocket() override;

    // Settings. Close and Abort restore the defaults; Addr and Port must be set again.
    const std::string &Addr() const { return m_addr; }
    void SetAddr(const std::string &addr) { m_addr = addr; }
    const std::string &Port() const { return m_port; }
    void SetPort(const std::string &port) { m_port = port; } // number or service name
    const std::string &Proto() const { return m_proto; }
    void SetProto(const std::string &proto) { m_proto = proto; }
    const std::string &LocalAddr() const { return m_localAddr; }
    void SetLocalAddr(const std::string &addr) { m_localAddr = addr; }
    const std::string &LocalPort() const { return m_localPort; }
    void SetLocalPort(const std::string &port) { m_localPort = port; }
    TSocketLingerOnOff LingerOnOff() const { return m_lingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff value) { m_lingerOnOff = value; }
    int LingerTimeout() const { return m_lingerTimeout; }
    void SetLingerTimeout(int seconds) { m_lingerTimeout = seconds; }
    unsigned ComponentOptions() const { return m_options; }
    void SetComponentOptions(unsigned options) { m_options = options; }

    TSocketState State() const { return m_state; }
    int HSocket() const { return m_handle; }
    int LastError() const { return m_lastError; }
    int64_t ReadCount() const { return m_readCount; }
    const std::string &DnsResult() const { return m_dnsResult; }
    const std::vector<std::string> &DnsResultList() const { return m_dnsResultList; }
    bool AllSent() const { return m_sendBuffer.empty(); }

    // A dotted address completes at once (OnDnsLookupDone(0) before the call returns); a name
    // is looked up off the thread. A pending look-up is cancelled first.
    void DnsLookup(const std::string &host);
    // Drops a pending look-up and reports OnDnsLookupDone(10004).
    void CancelDnsLookup();

    void Connect();
    void Listen();
    // The handle of one waiting connection (-1 with LastError 10035 when none waits).
    int Accept();
    // Adopts a connected handle (from Accept), closing the own socket silently first.
    void Dup(int handle);
    void Close();
    void Abort();
    void Shutdown(int how);

    // Queues the bytes and sends what the system takes; OnDataSent fires once all went out.
    int Send(const void *data, size_t length);
    int SendStr(const std::string &text) { return Send(text.data(), text.size()); }
    // Bytes read; 0 when the peer has closed; -1 on error with LastError (10035: none waiting).
    int Receive(void *buffer, size_t size);

    std::string GetPeerAddr() const;
    int GetPeerPort() const;
    // Local address and port of the socket; false when it has none.
    bool GetSockName(std::string &addr, uint16_t &port) const;

    TSocketEvent OnDnsLookupDone;
    TSocketEvent OnSessionConnected;
    TSocketEvent OnSessionClosed;
    TSocketEvent OnDataAvailable;
    TSocketEvent OnDataSent;
    TSocketEvent OnSessionAvailable;
    TChangeStateEvent OnChangeState;
    TErrorEvent OnError;
    TBgExceptionEvent OnBgException;

private:
    void setState(TSocketState state);
    void AssignDefaultValue();
    void RaiseException(const std::string &function, int code);
    void HandleBackGroundException(const std::exception &e);
    void openHandle(int handle);
    void closeHandle();
    void InternalClose(bool shutdownFirst, int error);
    void applyLinger();
    int bytesWaiting() const;
    void onReadable();
    void onWritable();
    void connectDone(int error);
    void closeEvent(int error);
    bool receiveLoop(uint64_t serial);
    bool TryToSend();
    void lookupDone(uint64_t id, int error, const std::vector<std::string> &addresses);

    std::string m_addr;
    std::string m_port;
    std::string m_proto = "tcp";
    std::string m_localAddr = "0.0.0.0";
    std::string m_localPort = "0";
    TSocketLingerOnOff m_lingerOnOff = wsLingerOn;
    int m_lingerTimeout = 0;
    unsigned m_options = 0;

    int m_handle = -1;
    uint64_t m_serial = 0; // changes whenever the handle does, so stale events are dropped
    TSocketState m_state = wsClosed;
    int m_lastError = 0;
    int64_t m_readCount = 0;
    bool m_closeInvoked = true;
    // What the last Receive of a data event saw, so the receive loop rarely asks the system.
    enum { ReceiveNone, ReceiveFull, ReceiveDrained } m_lastReceive = ReceiveNone;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    std::deque<std::string> m_sendBuffer;

    std::string m_dnsResult;
    std::vector<std::string> m_dnsResultList;
    bool m_lookupPending = false;
    uint64_t m_lookupId = 0;
};

} // namespace veltrano
