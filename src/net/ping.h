#pragma once

#include <memory>
#include <string>

#include <QObject>
#include <QString>

#include "net/icmp.h"

namespace veltrano {

// The echo component a window holds: one TICMP, its settings and results passed through, and
// its events offered as signals. Ping() is synchronous and blocks the calling thread for the
// name look-up (when Address is a name) plus at most Timeout milliseconds.
//
// Lives on the thread that made it; the signals are emitted from inside Ping(), so receivers
// connected directly run before Ping() returns.
class TPing : public QObject
{
    Q_OBJECT

public:
    explicit TPing(QObject *parent = nullptr, TICMPHooks hooks = {});
    ~TPing() override;

    const std::string &Address() const { return m_icmp->Address(); }
    void SetAddress(const std::string &address) { m_icmp->SetAddress(address); }
    int Size() const { return m_icmp->Size(); }
    void SetSize(int size) { m_icmp->SetSize(size); }
    int Timeout() const { return m_icmp->Timeout(); }
    void SetTimeout(int timeout) { m_icmp->SetTimeout(timeout); }
    int TTL() const { return m_icmp->TTL(); }
    void SetTTL(int ttl) { m_icmp->SetTTL(ttl); }
    int Flags() const { return m_icmp->Flags(); }
    void SetFlags(int flags) { m_icmp->SetFlags(flags); }

    // The number of echo replies: 0 means no answer within Timeout or no usable address.
    int Ping() { return m_icmp->Ping(); }

    const TIcmpEchoReply &Reply() const { return m_icmp->Reply(); }
    int ErrorCode() const { return m_icmp->ErrorCode(); }
    std::string ErrorString() const { return m_icmp->ErrorString(); }
    const std::string &HostName() const { return m_icmp->HostName(); }
    const std::string &HostIP() const { return m_icmp->HostIP(); }

    TICMP &icmp() { return *m_icmp; }

signals:
    // A progress or failure text of the echo ("Unable to resolve ...", "Invalid host address").
    void OnDisplay(veltrano::TPing *sender, veltrano::TICMP *icmp, const QString &msg);
    // The request is about to be sent.
    void OnEchoRequest(veltrano::TPing *sender, veltrano::TICMP *icmp);
    // The echo is over; `error` carries Ping()'s result, the number of replies.
    void OnEchoReply(veltrano::TPing *sender, veltrano::TICMP *icmp, int error);

private:
    void IcmpDisplay(TICMP &icmp, const std::string &msg);
    void IcmpEchoRequest(TICMP &icmp);
    void IcmpEchoReply(TICMP &icmp, int error);

    std::unique_ptr<TICMP> m_icmp;
};

} // namespace veltrano
