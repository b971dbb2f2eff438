#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include "server/ftpsession.h"
#include "server/serversearch.h"
#include "server/sharemap.h"
#include "server/userdb.h"

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace veltrano {

struct FtpServerConfig
{
    uint64_t maxHits = 5000; // past this many hits a stream ends with ?O
    size_t maxStreamBytes = 204800; // the client's buffer; a longer stream ends with ?A
    int maxClients = 64; // connections at once; more are turned away with 421
    std::chrono::seconds idleTimeout{300};
    std::chrono::milliseconds wrongPasswordDelay{1500};
    FtpSession::Limits session;
};

// The network shell of the search server on Qt's event loop: it accepts control connections
// and runs one FtpSession per client, doing for it what needs sockets, threads or time. Slow
// work never runs on the loop: password hashes are checked on the thread pool and searches on
// the engine's own threads; files go out as fast as each client takes them, so a slow client
// holds up nobody else.
class FtpServer : public QObject
{
    Q_OBJECT

public:
    FtpServer(ShareMap shares, UserDb users, std::unique_ptr<ServerCache> cache,
            FtpServerConfig config, QObject *parent = nullptr);
    ~FtpServer() override;

    // Listens on address:port (port 0: any free one). False with errorString() on failure.
    bool listen(const QHostAddress &address, uint16_t port);
    uint16_t port() const;
    QString errorString() const;
    int clients() const { return m_clients; }

    const ShareMap &shares() const { return m_shares; }
    const UserDb &users() const { return m_users; }
    ServerCache &cache() { return *m_cache; }
    const FtpServerConfig &config() const { return m_config; }

private:
    friend class FtpConnection;
    void accept();

    ShareMap m_shares;
    UserDb m_users;
    std::unique_ptr<ServerCache> m_cache;
    FtpServerConfig m_config;
    QTcpServer *m_listener;
    int m_clients = 0;
};

// One client: its control connection, its data connection and its session.
class FtpConnection : public QObject
{
    Q_OBJECT

public:
    FtpConnection(FtpServer &server, QTcpSocket *control);
    ~FtpConnection() override;

private:
    void readCommands();
    void act(FtpSession::Step step);
    void send(const std::string &text);
    void close();
    void checkPassword();
    void openPassive();
    void startTransfer();
    void dataReady();
    void pump();
    void finishTransfer(bool ok, const char *why);
    void dropData();
    void startSearch();
    void startSearchOn(QPointer<FtpConnection> self, uint64_t id);
    void resumeAfterWait();
    void touch();

    FtpServer &m_server;
    QTcpSocket *m_control;
    QTimer *m_idle;
    FtpSession m_session;
    std::string m_in;
    bool m_waiting = false; // an answer is being prepared; later lines wait for it
    bool m_closing = false;

    QTcpServer *m_passive = nullptr;
    QPointer<QTcpSocket> m_data;
    QTimer *m_dataTimer;
    bool m_transferring = false;
    FtpSession::Transfer m_transfer;
    size_t m_bytesSent = 0;
    bool m_allQueued = false;

    uint64_t m_searchId = 0; // a search's answer is taken only while its id is current
    std::function<void()> m_stopSearch;
};

} // namespace veltrano
