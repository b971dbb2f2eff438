#include "transfer/remotesession.h"

#include <QEventLoop>
#include <QTimer>

#include "ftp/ftpurl.h"
#include "util/error.h"

namespace veltrano {

namespace {

std::string toWire(const CodePage &cp, const std::string &utf8, const char *what)
{
    const std::optional<std::string> bytes = cp.fromUtf8(utf8);
    if (!bytes)
        throw Error(std::string("The ") + what + " cannot be written in code page " + cp.name());
    return *bytes;
}

} // namespace

RemoteLogon remoteLogonOf(std::string_view url, const char *envPassword, const CodePage &cp)
{
    const FtpUrl parsed = parseFtpUrl(url);
    if (parsed.host.empty())
        throw Error("The address names no host: " + redactFtpUrl(url));
    RemoteLogon logon;
    logon.host = parsed.host;
    logon.port = parsed.port;
    logon.user = toWire(cp, parsed.user, "user name");
    std::string password = parsed.password;
    if (password.empty() && envPassword && *envPassword)
        password = envPassword;
    if (password.find_first_of("\r\n") != std::string::npos)
        throw Error("Line break in the password");
    logon.password = toWire(cp, password, "password");
    return logon;
}

bool runEngineUntil(TransferEngine &engine, const std::function<bool()> &done, int idleSeconds)
{
    if (done())
        return true;
    QEventLoop loop;
    bool idle = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.setInterval(idleSeconds * 1000);
    QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
        idle = true;
        loop.quit();
    });
    const auto moved = [&] {
        if (done())
            loop.quit();
        else
            watchdog.start();
    };
    // Each line of the dialogue and each piece of data counts as movement; the lines of one
    // reply do not reach the log, so an endless reply cannot hold the loop forever.
    QObject::connect(&engine, &TransferEngine::logLine, &loop, moved);
    QObject::connect(&engine, &TransferEngine::statusText, &loop, moved);
    QObject::connect(&engine, &TransferEngine::requestFinished, &loop, moved);
    QObject::connect(&engine, &TransferEngine::jobEnded, &loop, moved);
    watchdog.start();
    loop.exec();
    if (idle) {
        engine.DirFtpClient().AbortAsync();
        engine.QueueFtpClient().AbortAsync();
    }
    return !idle && done();
}

void connectRemote(TransferEngine &engine, int slot, const RemoteLogon &logon, const CodePage &cp,
        int idleSeconds)
{
    int connected = -1;
    const QMetaObject::Connection answer = QObject::connect(&engine,
            &TransferEngine::requestFinished, &engine, [&](int from, int request, int error) {
                if (from == slot && request == ftpConnectAsync)
                    connected = error;
            });
    engine.ConnectSession(slot, logon.host, logon.user, logon.port, logon.password);
    const bool answered = runEngineUntil(
            engine,
            [&] {
                return connected >= 0;
            },
            idleSeconds);
    QObject::disconnect(answer);
    if (!answered)
        throw Error("No answer from " + logon.host);
    if (connected != 0) {
        TFtpClient &client = slot == 0 ? engine.DirFtpClient() : engine.QueueFtpClient();
        throw Error(cp.toUtf8(client.ErrorMessage));
    }
}

void awaitRemote(TransferEngine &engine, const std::function<bool()> &done, int idleSeconds)
{
    if (!runEngineUntil(engine, done, idleSeconds))
        throw Error("426 Timeout");
}

void quitRemote(TransferEngine &engine, int slot)
{
    TFtpClient &client = slot == 0 ? engine.DirFtpClient() : engine.QueueFtpClient();
    if (!client.Connected())
        return;
    client.QuitAsync();
    runEngineUntil(
            engine,
            [&] {
                return !client.Connected();
            },
            5);
}

} // namespace veltrano
