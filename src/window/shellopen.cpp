#include "window/shellopen.h"

#include <cerrno>
#include <mutex>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QStringList>

namespace veltrano {
namespace {

std::mutex g_shellMutex;
TShellOpen g_shell;
TShowItem g_showItem;

// xdg-open's exit codes as the error a user can read: 2 is a file that is not there, 3 a
// missing handler, 4 a handler that failed.
int runXdgOpen(const QUrl &url)
{
    QProcess process;
    process.start(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
    if (!process.waitForStarted(10000))
        return ENOENT;
    process.closeWriteChannel();
    // Some handlers keep xdg-open until they end; this thread belongs to one open only.
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit)
        return EINTR;
    switch (process.exitCode()) {
    case 0:
        return 0;
    case 2:
        return ENOENT;
    case 3:
        return ENOEXEC;
    default:
        return EIO;
    }
}

bool dbusShowItem(const QUrl &item)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(service,
            QStringLiteral("/org/freedesktop/FileManager1"), service, QStringLiteral("ShowItems"));
    call << QStringList{item.toString(QUrl::FullyEncoded)} << QString();
    return bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

} // namespace

TShareMapping TShareMapping::load(const std::string &file)
{
    QFile in(QString::fromStdString(file));
    if (!in.open(QIODevice::ReadOnly))
        return {};
    // A mapping file is a few lines; anything larger is not one.
    return parse(in.read(1 << 20).toStdString());
}

TShareMapping TShareMapping::parse(const std::string &text)
{
    TShareMapping map;
    for (QString line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))
                || line.startsWith(QLatin1Char(';')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        QString unc = line.left(eq).trimmed();
        QString mount = line.mid(eq + 1).trimmed();
        while (unc.endsWith(QLatin1Char('\\')))
            unc.chop(1);
        while (mount.size() > 1 && mount.endsWith(QLatin1Char('/')))
            mount.chop(1);
        // Only \\PC\share: a prefix that names a computer alone would map every share of it.
        const QStringList parts = unc.mid(2).split(QLatin1Char('\\'));
        if (!unc.startsWith(QLatin1String("\\\\")) || parts.size() != 2 || parts[0].isEmpty()
                || parts[1].isEmpty() || !mount.startsWith(QLatin1Char('/')))
            continue;
        map.m_prefixes.emplace_back(unc, mount);
    }
    return map;
}

QString TShareMapping::localPath(const QString &dataPath) const
{
    for (const auto &[unc, mount] : m_prefixes) {
        if (!dataPath.startsWith(unc, Qt::CaseInsensitive))
            continue;
        const QString rest = dataPath.mid(unc.size());
        if (!rest.isEmpty() && rest[0] != QLatin1Char('\\'))
            continue; // \\PC\share2 is not below \\PC\share
        QString tail = rest;
        tail.replace(QLatin1Char('\\'), QLatin1Char('/'));
        // A ".." part would lead out of the mount point.
        if (tail.split(QLatin1Char('/')).contains(QStringLiteral("..")))
            return {};
        return mount == QLatin1String("/") && tail.startsWith(QLatin1Char('/')) ? tail
                                                                                : mount + tail;
    }
    return {};
}

QUrl TShareMapping::urlFor(const QString &dataPath) const
{
    if (dataPath.isEmpty())
        return {};
    const QString local = localPath(dataPath);
    if (!local.isEmpty())
        return QUrl::fromLocalFile(local);
    if (dataPath.startsWith(QLatin1String("\\\\"))) {
        QStringList parts = dataPath.mid(2).split(QLatin1Char('\\'));
        if (parts.isEmpty() || parts[0].isEmpty())
            return {};
        QUrl url;
        url.setScheme(QStringLiteral("smb"));
        url.setHost(parts.takeFirst());
        QString path;
        for (const QString &part : parts)
            path += QLatin1Char('/') + part;
        url.setPath(path);
        return url.isValid() ? url : QUrl();
    }
    if (dataPath.startsWith(QLatin1Char('/')))
        return QUrl::fromLocalFile(dataPath);
    // A drive letter of the machine the cache was collected on means nothing here.
    return {};
}

TShellOpen setShellOpen(TShellOpen shell)
{
    std::lock_guard lock(g_shellMutex);
    return std::exchange(g_shell, std::move(shell));
}

int shellOpen(const QUrl &url)
{
    TShellOpen shell;
    {
        std::lock_guard lock(g_shellMutex);
        shell = g_shell;
    }
    return shell ? shell(url) : runXdgOpen(url);
}

TShowItem setShowItem(TShowItem show)
{
    std::lock_guard lock(g_shellMutex);
    return std::exchange(g_showItem, std::move(show));
}

bool showItemInFileManager(const QUrl &item)
{
    TShowItem show;
    {
        std::lock_guard lock(g_shellMutex);
        show = g_showItem;
    }
    return show ? show(item) : dbusShowItem(item);
}

} // namespace veltrano
