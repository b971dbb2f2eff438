// veltrano-server: serves the cache's searches and the shares' files to Veltrano over FTP.
#include <csignal>
#include <cstdio>
#include <iostream>

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "server/ftpserver.h"
#include "util/error.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// ADDR:PORT, ADDR alone (port 21) or :PORT (all addresses).
bool parseListen(const std::string &text, QHostAddress &address, uint16_t &port)
{
    const size_t colon = text.rfind(':');
    const std::string host = colon == std::string::npos ? text : text.substr(0, colon);
    port = 21;
    if (colon != std::string::npos) {
        try {
            size_t used = 0;
            const int p = std::stoi(text.substr(colon + 1), &used);
            if (used != text.size() - colon - 1 || p < 0 || p > 65535)
                return false;
            port = uint16_t(p);
        } catch (const std::exception &) {
            return false;
        }
    }
    address = host.empty() ? QHostAddress(QHostAddress::AnyIPv4)
                           : QHostAddress(QString::fromStdString(host));
    return !address.isNull() && address.protocol() == QAbstractSocket::IPv4Protocol;
}

} // namespace

int main(int argc, char *argv[])
{
    CLI::App app{"veltrano-server: a read-only FTP server that runs Veltrano's searches over its "
                 "cache (OPENFIND, the pseudo file FIND) and serves the shares' files"};
    std::string cache, sharesFile, usersFile, listen = "0.0.0.0:21", codePage;
    veltrano::FtpServerConfig config;
    int idle = int(config.idleTimeout.count());
    app.add_option("--cache", cache, "The cache folder the collector writes")->required();
    app.add_option(
               "--shares", sharesFile, "Lines \\\\PC\\share=/mount/point: what is served and where")
            ->required();
    app.add_option("--users", usersFile,
               "Lines name:crypt-hash (as in /etc/shadow or htpasswd); "
               "a line anonymous: allows anonymous log-on")
            ->required();
    app.add_option("--listen", listen, "ADDR:PORT to listen on (port 0: any free one)")
            ->capture_default_str();
    app.add_option(
            "--codepage", codePage, "Code page of the wire (default: $VELTRANO_CODEPAGE or CP950)");
    app.add_option("--max-hits", config.maxHits, "Hits of one search before it ends with ?O")
            ->capture_default_str()
            ->check(CLI::Range(uint64_t(1), uint64_t(10000000)));
    app.add_option("--max-clients", config.maxClients, "Clients served at once")
            ->capture_default_str()
            ->check(CLI::Range(1, 10000));
    app.add_option("--idle-timeout", idle, "Seconds before an idle connection is closed")
            ->capture_default_str()
            ->check(CLI::Range(1, 86400));
    CLI11_PARSE(app, argc, argv);
    config.idleTimeout = std::chrono::seconds(idle);

    QCoreApplication qapp(argc, argv);
    QHostAddress address;
    uint16_t port = 0;
    if (!parseListen(listen, address, port)) {
        std::cerr << fmt::format("Not an IPv4 ADDR:PORT: \"{}\"\n", listen);
        return 2;
    }
    try {
        const veltrano::CodePage wire = codePage.empty() ? veltrano::CodePage::programDefault()
                                                         : veltrano::CodePage(codePage);
        auto shares = veltrano::ShareMap::load(sharesFile, wire);
        auto users = veltrano::UserDb::load(usersFile);
        auto serverCache = std::make_unique<veltrano::ServerCache>(cache);
        serverCache->codePage(); // a cache that cannot be read is reported now, not at a search
        if (shares.shares().empty())
            throw veltrano::Error("The shares file names no share");
        auto *server = new veltrano::FtpServer(
                std::move(shares), std::move(users), std::move(serverCache), config, &qapp);
        if (!server->listen(address, port)) {
            std::cerr << fmt::format(
                    "Cannot listen on {}: {}\n", listen, server->errorString().toStdString());
            return 1;
        }
        std::cout << fmt::format(
                "listening on {}:{}\n", address.toString().toStdString(), server->port())
                  << std::flush;
    } catch (const std::exception &e) {
        std::cerr << e.what() << '\n';
        return 2;
    }

    ::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &qapp);
        QObject::connect(notifier, &QSocketNotifier::activated, &qapp, &QCoreApplication::quit);
        ::signal(SIGINT, onSignal);
        ::signal(SIGTERM, onSignal);
    }
    return qapp.exec();
}
