#include "server/ftpserver.h"

#include <cstdio>

#include <unistd.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>
#include <QTimer>

#include "server/ftpcommand.h"

namespace veltrano {
namespace {

// How much of a file waits in a data socket's buffer at most, and how much is read at a time.
constexpr qint64 kSocketBacklog = 256 * 1024;
constexpr size_t kReadChunk = 64 * 1024;
// A data connection that the client does not open or accept within this time is given up.
constexpr int kDataConnectMs = 30000;
constexpr qint64 kMaxUnreadReplies = 1024 * 1024;

uint32_t ipv4Of(const QHostAddress &address)
{
    bool ok = false;
    const uint32_t v4 = address.toIPv4Address(&ok);
    return ok ? v4 : 0;
}

// Client-chosen texts (user names) go to the log too: no control byte of theirs reaches it.
void logLine(std::string text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    std::fprintf(stderr, "%s\n", text.c_str());
}

} // namespace

FtpServer::FtpServer(ShareMap shares, UserDb users, std::unique_ptr<ServerCache> cache,
        FtpServerConfig config, QObject *parent)
    : QObject(parent)
    , m_shares(std::move(shares))
    , m_users(std::move(users))
    , m_cache(std::move(cache))
    , m_config(config)
    , m_listener(new QTcpServer(this))
{
    m_listener->setMaxPendingConnections(m_config.maxClients + 8);
    connect(m_listener, &QTcpServer::newConnection, this, &FtpServer::accept);
}

FtpServer::~FtpServer() = default;

bool FtpServer::listen(const QHostAddress &address, uint16_t port)
{
    return m_listener->listen(address, port);
}

uint16_t FtpServer::port() const
{
    return m_listener->serverPort();
}

QString FtpServer::errorString() const
{
    return m_listener->errorString();
}

void FtpServer::accept()
{
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        if (m_clients >= m_config.maxClients) {
            socket->write("421 Too many clients; try again later\r\n");
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        ++m_clients;
        new FtpConnection(*this, socket);
    }
}

FtpConnection::FtpConnection(FtpServer &server, QTcpSocket *control)
    : QObject(&server)
    , m_server(server)
    , m_control(control)
    , m_idle(new QTimer(this))
    , m_session(server.shares(), server.users(), ipv4Of(control->peerAddress()),
              server.config().session)
    , m_dataTimer(new QTimer(this))
{
    control->setParent(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(
            std::chrono::duration_cast<std::chrono::milliseconds>(server.config().idleTimeout));
    connect(m_idle, &QTimer::timeout, this, [this] {
        send(replyText(421, "Idle too long; closing"));
        close();
    });
    m_dataTimer->setSingleShot(true);
    m_dataTimer->setInterval(kDataConnectMs);
    connect(m_dataTimer, &QTimer::timeout, this, [this] {
        finishTransfer(false, "No data connection");
    });
    connect(control, &QTcpSocket::readyRead, this, &FtpConnection::readCommands);
    connect(control, &QTcpSocket::disconnected, this, &FtpConnection::close);
    connect(control, &QTcpSocket::errorOccurred, this, [this] {
        close();
    });
    send(replyText(220, "Veltrano search server ready"));
    m_idle->start();
}

FtpConnection::~FtpConnection()
{
    ++m_searchId;
    if (m_stopSearch)
        m_stopSearch();
    --m_server.m_clients;
}

void FtpConnection::touch()
{
    if (!m_closing)
        m_idle->start();
}

void FtpConnection::send(const std::string &text)
{
    if (text.empty() || m_control->state() != QAbstractSocket::ConnectedState)
        return;
    // A client that sends commands without reading the replies would make them pile up here.
    if (m_control->bytesToWrite() > kMaxUnreadReplies) {
        logLine("closing a client that does not read its replies");
        m_control->abort();
        close();
        return;
    }
    m_control->write(text.data(), qint64(text.size()));
}

void FtpConnection::close()
{
    if (m_closing)
        return;
    m_closing = true;
    m_idle->stop();
    dropData();
    ++m_searchId;
    if (m_stopSearch)
        m_stopSearch();
    if (m_control->state() == QAbstractSocket::UnconnectedState) {
        deleteLater();
        return;
    }
    connect(m_control, &QTcpSocket::disconnected, this, &QObject::deleteLater,
            Qt::UniqueConnection);
    m_control->disconnectFromHost();
    // A client that never reads its socket must not keep the connection half-closed for ever.
    QTimer::singleShot(5000, this, [this] {
        m_control->abort();
        deleteLater();
    });
}

void FtpConnection::readCommands()
{
    if (m_closing)
        return;
    m_in.append(m_control->readAll().toStdString());
    touch();
    while (!m_waiting && !m_closing) {
        const size_t eol = m_in.find('\n');
        if (eol == std::string::npos) {
            if (m_in.size() > kMaxCommandLine) {
                send(replyText(500, "Command line too long"));
                close();
            }
            return;
        }
        const std::string line = m_in.substr(0, eol + 1);
        m_in.erase(0, eol + 1);
        act(m_session.handle(line));
    }
}

void FtpConnection::resumeAfterWait()
{
    m_waiting = false;
    if (!m_in.empty())
        QTimer::singleShot(0, this, &FtpConnection::readCommands);
}

void FtpConnection::act(FtpSession::Step step)
{
    send(step.reply);
    switch (step.action) {
    case FtpSession::Action::None:
        break;
    case FtpSession::Action::CheckPassword:
        checkPassword();
        break;
    case FtpSession::Action::OpenPassive:
        openPassive();
        break;
    case FtpSession::Action::Transfer:
        startTransfer();
        break;
    case FtpSession::Action::Search:
        startSearch();
        break;
    case FtpSession::Action::Abort:
        dropData();
        ++m_searchId;
        if (m_stopSearch)
            std::exchange(m_stopSearch, {})();
        break;
    case FtpSession::Action::Close:
        close();
        break;
    }
}

void FtpConnection::checkPassword()
{
    m_waiting = true;
    const std::string user = m_session.pendingUser();
    const std::string password = m_session.takePassword();
    const UserDb *users = &m_server.users();
    QPointer<FtpConnection> self(this);
    QThreadPool::globalInstance()->start([self, users, user, password, server = &m_server] {
        const bool ok = users->check(user, password);
        QMetaObject::invokeMethod(
                server,
                [self, ok, user] {
                    if (!self || self->m_closing)
                        return;
                    if (ok) {
                        self->act(self->m_session.passwordChecked(true));
                        self->resumeAfterWait();
                        return;
                    }
                    logLine(self->m_control->peerAddress().toString().toStdString()
                            + ": wrong password for " + user);
                    // A wrong guess costs the guesser time; the others are served meanwhile.
                    QTimer::singleShot(self->m_server.config().wrongPasswordDelay, self, [self] {
                        self->act(self->m_session.passwordChecked(false));
                        self->resumeAfterWait();
                    });
                },
                Qt::QueuedConnection);
    });
}

void FtpConnection::openPassive()
{
    dropData();
    m_passive = new QTcpServer(this);
    m_passive->setMaxPendingConnections(1);
    const QHostAddress local = m_control->localAddress();
    if (!m_passive->listen(local, 0) || ipv4Of(local) == 0) {
        send(m_session.passiveFailed());
        dropData();
        return;
    }
    connect(m_passive, &QTcpServer::newConnection, this, [this] {
        QTcpSocket *socket = m_passive->nextPendingConnection();
        // Only the client itself may take its data.
        if (!socket || m_data
                || socket->peerAddress().toIPv4Address()
                        != m_control->peerAddress().toIPv4Address()) {
            if (socket)
                socket->abort(), socket->deleteLater();
            return;
        }
        socket->setParent(this);
        m_data = socket;
        m_passive->close();
        if (m_transferring)
            dataReady();
    });
    send(m_session.passiveOpened(HostPort{ipv4Of(local), m_passive->serverPort()}));
}

void FtpConnection::startTransfer()
{
    m_transfer = m_session.takeTransfer();
    m_transferring = true;
    m_bytesSent = 0;
    m_allQueued = false;
    if (!m_transfer.passive) {
        auto *socket = new QTcpSocket(this);
        m_data = socket;
        connect(socket, &QTcpSocket::connected, this, &FtpConnection::dataReady);
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
            if (m_transferring && socket->state() != QAbstractSocket::ConnectedState)
                finishTransfer(false, "Cannot open the data connection");
        });
        socket->connectToHost(QHostAddress(m_transfer.active.address), m_transfer.active.port);
    }
    if (m_data && m_data->state() == QAbstractSocket::ConnectedState)
        dataReady();
    else
        m_dataTimer->start();
}

void FtpConnection::dataReady()
{
    m_dataTimer->stop();
    QTcpSocket *data = m_data;
    connect(data, &QTcpSocket::bytesWritten, this, &FtpConnection::pump);
    connect(data, &QTcpSocket::disconnected, this, [this] {
        if (m_transferring)
            finishTransfer(m_allQueued, "Connection closed; transfer aborted");
    });
    connect(data, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (m_transferring && !(error == QAbstractSocket::RemoteHostClosedError && m_allQueued))
            finishTransfer(false, "Connection closed; transfer aborted");
    });
    pump();
}

void FtpConnection::pump()
{
    if (!m_transferring || !m_data || m_allQueued)
        return;
    touch();
    QTcpSocket *data = m_data;
    while (data->bytesToWrite() < kSocketBacklog) {
        if (m_transfer.file.valid()) {
            char buffer[kReadChunk];
            const ssize_t n =
                    ::pread(m_transfer.file.get(), buffer, sizeof buffer, off_t(m_transfer.offset));
            if (n < 0) {
                finishTransfer(false, "Read error; transfer aborted");
                return;
            }
            if (n == 0)
                break;
            data->write(buffer, n);
            m_transfer.offset += uint64_t(n);
        } else {
            const size_t left = m_transfer.bytes.size() - m_bytesSent;
            if (left == 0)
                break;
            const size_t n = std::min(left, kReadChunk);
            data->write(m_transfer.bytes.data() + m_bytesSent, qint64(n));
            m_bytesSent += n;
        }
    }
    const bool done = m_transfer.file.valid() ? data->bytesToWrite() < kSocketBacklog
                                              : m_bytesSent == m_transfer.bytes.size();
    if (!done)
        return;
    // The whole file is queued once a read came back empty (the loop broke below the backlog).
    m_allQueued = true;
    if (data->state() == QAbstractSocket::UnconnectedState) {
        finishTransfer(true, "");
        return;
    }
    data->disconnectFromHost(); // closes once everything queued has gone out
}

void FtpConnection::finishTransfer(bool ok, const char *why)
{
    if (!m_transferring)
        return;
    m_transferring = false;
    m_dataTimer->stop();
    dropData();
    send(m_session.transferDone(ok, why));
    m_transfer = FtpSession::Transfer{};
}

void FtpConnection::dropData()
{
    m_transferring = false;
    m_dataTimer->stop();
    if (m_data) {
        QTcpSocket *data = m_data;
        m_data = nullptr;
        data->disconnect(this);
        data->abort();
        data->deleteLater();
    }
    if (m_passive) {
        m_passive->close();
        m_passive->deleteLater();
        m_passive = nullptr;
    }
}

void FtpConnection::startSearch()
{
    const uint64_t id = ++m_searchId;
    QPointer<FtpConnection> self(this);
    try {
        startSearchOn(self, id);
    } catch (const std::exception &e) {
        logLine(std::string("search failed: ") + e.what());
        m_stopSearch = {};
        send(m_session.searchDone("?A\n?E"));
    }
}

void FtpConnection::startSearchOn(QPointer<FtpConnection> self, uint64_t id)
{
    const FtpServerConfig &config = m_server.config();
    m_stopSearch = startServerSearch(m_server.cache(), m_session.search(), m_server.shares().wire(),
            config.maxHits, config.maxStreamBytes,
            [self, id, server = &m_server](std::string stream) {
                QMetaObject::invokeMethod(
                        server,
                        [self, id, stream = std::move(stream)]() mutable {
                            if (!self || self->m_closing || id != self->m_searchId)
                                return;
                            self->m_stopSearch = {};
                            self->send(self->m_session.searchDone(std::move(stream)));
                            self->touch();
                        },
                        Qt::QueuedConnection);
            });
}

} // namespace veltrano
