#include "net/ping.h"

namespace veltrano {

TPing::TPing(QObject *parent, TICMPHooks hooks)
    : QObject(parent)
    , m_icmp(std::make_unique<TICMP>(std::move(hooks)))
{
    m_icmp->OnDisplay = [this](TICMP &icmp, const std::string &msg) {
        IcmpDisplay(icmp, msg);
    };
    m_icmp->OnEchoRequest = [this](TICMP &icmp) {
        IcmpEchoRequest(icmp);
    };
    m_icmp->OnEchoReply = [this](TICMP &icmp, int error) {
        IcmpEchoReply(icmp, error);
    };
}

TPing::~TPing() = default;

void TPing::IcmpDisplay(TICMP &icmp, const std::string &msg)
{
    emit OnDisplay(this, &icmp, QString::fromUtf8(msg.data(), qsizetype(msg.size())));
}

void TPing::IcmpEchoRequest(TICMP &icmp)
{
    emit OnEchoRequest(this, &icmp);
}

void TPing::IcmpEchoReply(TICMP &icmp, int error)
{
    emit OnEchoReply(this, &icmp, error);
}

} // namespace veltrano
