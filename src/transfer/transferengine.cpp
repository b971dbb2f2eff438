#include "transfer/transferengine.h"

#include <algorithm>
#include <system_error>

#include <QCoreApplication>
#include <QDateTime>

#include <fmt/format.h>

#include "protocol/listparse.h"
#include "transfer/transfertext.h"
#include "util/datetime.h"
#include "util/error.h"

namespace veltrano {

namespace fs = std::filesystem;

namespace {

// The log's texts are translated in a context of their own: the translation tools cannot read
// this class's header (an enumeration with a fixed underlying type stops their parser).
constexpr const char *kPreviousJob = QT_TRANSLATE_NOOP("TransferEngine", "之前的工作尚未完成");

QString num(int64_t value)
{
    return QString::number(value);
}

QString qs(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

double nowDateTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return encodeDate(d.year(), d.month(), d.day()).value_or(0)
            + encodeTime(t.hour(), t.minute(), t.second(), t.msec()).value_or(0);
}

bool isRefusal(int code)
{
    return code == 810 || code == 820 || code == 830 || code == 840;
}

std::string withSeparator(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

} // namespace

TransferEngine::TransferEngine(CodePage cp, fs::path listingFolder, QObject *parent)
    : QObject(parent)
    , m_cp(cp)
    , m_listingFolder(std::move(listingFolder))
    , m_find(cp)
{
    for (int slot = 0; slot < 2; ++slot) {
        m_clients[slot] = new TFtpClient(this);
        m_clients[slot]->SlotNumber = slot;
        m_clients[slot]->Timeout = 15;
        m_clients[slot]->Options = ftpAcceptLF;
        m_clients[slot]->SetBinary(true);
        hookClient(slot);
    }
    DirFtpClient().ShareMode = ftpShareDenyWrite;
    QueueFtpClient().ShareMode = ftpShareExclusive;
    QueueFtpClient().MultiThreaded = false;
    DirFtpClient().MultiThreaded = true;

    m_find.setErrorHandler([this](const std::string &text) {
        log(LogColour::Error, text);
    });
    m_find.setResultsHandler([this] {
        m_resultList = m_find.results();
        if (OnFindResults)
            OnFindResults();
    });
    m_workTimer.setInterval(1000);
    connect(&m_workTimer, &QTimer::timeout, this, [this] {
        try {
            WorkTimerTimer();
        } catch (const std::exception &e) {
            m_lastError = e.what();
            emit statusText(QString::fromStdString(m_lastError));
        }
    });
}

TransferEngine::~TransferEngine()
{
    for (TFtpClient *client : m_clients) {
        client->OnDisplay = nullptr;
        client->OnDisplayFile = nullptr;
        client->OnProgress = nullptr;
        client->OnRequestDone = nullptr;
        client->OnSessionConnected = nullptr;
        client->OnSessionClosed = nullptr;
        client->OnStateChange = nullptr;
        client->AbortAsync();
    }
}

void TransferEngine::log(LogColour colour, const std::string &text)
{
    emit logLine(colour, QString::fromUtf8(text.data(), qsizetype(text.size())));
}

void TransferEngine::logSlot(LogColour colour, int slot, const std::string &text)
{
    log(colour, fmt::format("Thread{}:{}", slot, text));
}

void TransferEngine::hookClient(int slot)
{
    TFtpClient &client = *m_clients[slot];
    client.OnDisplay = [this, slot](TCustomFtpCli &, const std::string &text) {
        logSlot(LogColour::Trace, slot, utf8(text));
    };
    client.OnProgress = [this, slot](TCustomFtpCli &, int64_t count, bool &abort) {
        onProgress(slot, count, abort);
    };
    client.OnSessionConnected = [this, slot](TCustomFtpCli &, int error) {
        log(LogColour::Error,
                (error ? QCoreApplication::translate(
                         "TransferEngine", "Thread%1::通話層連接,錯誤=%2")
                                        .arg(num(slot), num(error))
                       : QCoreApplication::translate("TransferEngine", "Thread%1::通話層連接")
                                        .arg(slot))
                        .toStdString());
    };
    client.OnSessionClosed = [this, slot](TCustomFtpCli &, int error) {
        log(LogColour::Progress,
                (error ? QCoreApplication::translate(
                         "TransferEngine", "Thread%1:通話層結束,錯誤=%2")
                                        .arg(num(slot), num(error))
                       : QCoreApplication::translate("TransferEngine", "Thread%1:通話層結束")
                                        .arg(slot))
                        .toStdString());
    };
    client.OnStateChange = [this](TCustomFtpCli &) {
        emit statusText(QString::number(int(DirFtpClient().State())));
    };
    client.OnRequestDone = [this, slot](TCustomFtpCli &, TFtpRequest request, int error) {
        // Nothing may escape into the client's event delivery.
        try {
            requestDone(slot, request, error);
        } catch (const std::exception &e) {
            m_lastError = e.what();
            log(LogColour::Error, m_lastError);
            emit statusText(QString::fromStdString(m_lastError));
        }
        emit requestFinished(slot, int(request), error);
    };
    if (slot == 0)
        client.OnDisplayFile = [this](TCustomFtpCli &, const std::string &chunk) {
            m_find.feed(chunk);
        };
}

// --- Sessions ---------------------------------------------------------------------------------

void TransferEngine::ConnectSessions(const std::string &host, const std::string &user,
        const std::string &port, const std::string &password)
{
    for (int slot = 0; slot < 2; ++slot)
        ConnectSession(slot, host, user, port, password);
}

void TransferEngine::ConnectSession(int slot, const std::string &host, const std::string &user,
        const std::string &port, const std::string &password)
{
    TFtpClient &client = *m_clients[slot];
    log(LogColour::Progress,
            QCoreApplication::translate("TransferEngine", "Thread%1:以%2名稱,嘗試連線%3...")
                    .arg(num(slot), qs(utf8(user)), qs(utf8(host)))
                    .toStdString());
    client.HostName = host;
    client.Port = port;
    client.UserName = user;
    client.PassWord = password;
    client.DisplayFileFlag = false;
    client.SetBinary(true);
    client.ConnectAsync();
}

void TransferEngine::ReconnectSessions(const std::string &host, const std::string &user,
        const std::string &port, const std::string &password)
{
    DropSessions();
    ConnectSessions(host, user, port, password);
}

void TransferEngine::DropSessions()
{
    for (int slot = 0; slot < 2; ++slot) {
        logSlot(LogColour::Progress, slot,
                QCoreApplication::translate("TransferEngine", "結束連線").toStdString());
        m_clients[slot]->Abort();
    }
    endInterruptedWork();
}

void TransferEngine::AbortSessions()
{
    for (TFtpClient *client : m_clients)
        client->AbortAsync();
    endInterruptedWork();
}

// Without this a queue row would stay running for good, and the queue with it; a search would
// never end and the window that asked would refuse every later one.
void TransferEngine::endInterruptedWork()
{
    if (m_jobRunning) {
        m_pendingValid = false;
        clearStacks();
        FailCount = TotalCount - std::min(TotalCount, DoneCount + SkipCount);
        showCounters();
        m_jobRunning = false;
        m_openAfter = false;
        m_launched = false;
        emit gaugeChanged(false, 0);
        if (m_rowRunning)
            finishRow();
        emit jobEnded();
    }
    if (m_searchRunning) {
        m_searchRunning = false;
        DirFtpClient().DisplayFileFlag = false;
        if (OnFindDone)
            OnFindDone();
    }
}

void TransferEngine::SetPassiveMode(bool passive)
{
    for (TFtpClient *client : m_clients)
        client->SetPassive(passive);
}

// --- Search and browsing ----------------------------------------------------------------------

void TransferEngine::StartRemoteSearch(const std::string &argument)
{
    TFtpClient &client = DirFtpClient();
    m_kind[0] = rkSearch;
    // A stop that came after the last search had ended must not cut this one short; a job
    // start does the same.
    m_continue = true;
    m_find.start();
    client.SetLocalFileName("OPENFIND " + argument);
    client.QuoteAsync();
    m_searchRunning = true;
}

void TransferEngine::BrowseRemoteFolder(const std::string &folder)
{
    TFtpClient &client = DirFtpClient();
    m_browseFolder = folder;
    m_kind[0] = rkBrowse;
    client.HostDirName = folder;
    client.CwdAsync();
}

// --- Request completion -----------------------------------------------------------------------

void TransferEngine::requestDone(int slot, TFtpRequest request, int error)
{
    TFtpClient &client = *m_clients[slot];
    if (actOnReply(slot, request))
        return;
    log(LogColour::Progress,
            QCoreApplication::translate("TransferEngine", "Thread%1:要求%2完成,狀態碼%3")
                    .arg(num(slot), num(int(request)), num(client.ReplyCode()))
                    .toStdString());
    log(LogColour::Progress,
            QCoreApplication::translate("TransferEngine", "Thread%1:上次反應%2")
                    .arg(num(slot), qs(utf8(client.LastReply())))
                    .toStdString());
    // The quote request counts every code from 500 up as failed; the server's 800 is its yes.
    const bool accepted = request == ftpQuoteAsync && client.ReplyCode() == 800;
    if (error != 0 && !accepted) {
        m_lastError = QCoreApplication::translate("TransferEngine", "Thread:%1錯誤%2(%3)")
                              .arg(num(slot), num(error), qs(utf8(client.ErrorMessage)))
                              .toStdString();
        log(LogColour::Error, m_lastError);
        emit statusText(QString::fromStdString(m_lastError));
    }
    afterRequest(slot, request, error);
}

// The server's own replies to its two commands. True when nothing else is to be done.
bool TransferEngine::actOnReply(int slot, TFtpRequest request)
{
    TFtpClient &client = *m_clients[slot];
    const int code = client.ReplyCode();
    if (code == 530) {
        std::string user = client.UserName, password = client.PassWord;
        if (m_questions && m_questions->askLogon(user, password)) {
            client.UserName = user;
            client.PassWord = password;
            client.HighLevelAsync(ftpConnectAsync, fct(ftpFctUser) | fct(ftpFctPass));
        }
        return false;
    }
    // Only the answers to the two commands count: a server that answered RETR or CWD with
    // these codes would otherwise restart a search or end a job it never saw.
    if (request != ftpQuoteAsync)
        return false;
    if (slot == 0 && m_kind[0] == rkSearch) {
        if (code == 700) {
            client.DisplayFileFlag = true;
            client.SetDisplayFileMode(ftpBinary);
            client.HostDirName.clear();
            client.HostFileName = "FIND";
            client.SetLocalFileName(std::string());
            client.GetAsync();
            return true;
        }
        if (isRefusal(code))
            refuse(slot);
        m_searchRunning = false;
        emit searchFailed(QString::fromStdString(utf8(client.LastReply())));
        return false;
    }
    if (slot == 1 && m_pendingValid) {
        m_pendingValid = false;
        if (code == 800) {
            if (!fetchFile(m_pendingItem, m_pendingRemote, m_pendingLocal))
                takeNext();
        } else {
            // Refused, or a server that does not know the check: either way nothing of this
            // job can be fetched, and waiting for another answer would hang it.
            refuse(slot);
        }
    }
    return false;
}

void TransferEngine::refuse(int slot)
{
    m_kind[slot] = rkNone;
    if (slot == 0)
        return; // a refused search leaves the download job of the other client alone
    clearStacks();
    FailCount = TotalCount - std::min(TotalCount, DoneCount + SkipCount);
    showCounters();
    if (m_jobRunning) {
        m_jobRunning = false;
        emit gaugeChanged(false, 0);
        if (m_rowRunning)
            finishRow();
        emit jobEnded();
    }
}

void TransferEngine::afterRequest(int slot, TFtpRequest request, int error)
{
    TFtpClient &client = *m_clients[slot];
    const RequestKind kind = m_kind[slot];
    switch (request) {
    case ftpCwdAsync:
    case ftpMkdAsync:
    case ftpPwdAsync:
    case ftpCDupAsync:
        if (kind == rkBrowse && slot == 0 && error == 0) {
            std::error_code ignored;
            fs::remove(listingFile(0), ignored);
            client.DisplayFileFlag = false;
            client.HostFileName.clear();
            client.SetLocalFileName(listingFile(0).string());
            client.DirAsync();
        } else if (kind == rkDownload && slot == 1) {
            jobCwdDone(error);
        }
        log(LogColour::Progress,
                QCoreApplication::translate("TransferEngine", "Thread%1:目錄\"%2\"")
                        .arg(num(slot), qs(utf8(client.ReplyDir())))
                        .toStdString());
        break;
    case ftpDirAsync:
    case ftpLsAsync:
    case ftpDirectoryAsync:
    case ftpListAsync: {
        Listing listing = parseListingFile(listingFile(slot), m_cp);
        m_resultList = std::move(listing.entries);
        m_listingFolders = listing.folders;
        m_listingFiles = listing.files;
        if (kind == rkBrowse && slot == 0) {
            if (OnListDone)
                OnListDone();
        } else if (kind == rkDownload && slot == 1) {
            jobListDone(error);
        }
        break;
    }
    case ftpGetAsync:
    case ftpRestGetAsync:
        if (kind == rkSearch && slot == 0) {
            m_searchRunning = false;
            client.DisplayFileFlag = false;
            logSlot(LogColour::Progress, slot,
                    QCoreApplication::translate("TransferEngine", "搜尋完成").toStdString());
            if (OnFindDone)
                OnFindDone();
        } else if (kind == rkDownload && slot == 1) {
            fileDone(error);
        }
        break;
    case ftpSizeAsync:
        log(LogColour::Progress,
                QCoreApplication::translate("TransferEngine", "Thread%1:檔案大小%2(BYTES)")
                        .arg(num(slot), num(client.ReplySize()))
                        .toStdString());
        break;
    default:
        break;
    }
}

// --- Progress ---------------------------------------------------------------------------------

void TransferEngine::onProgress(int slot, int64_t count, bool &abort)
{
    if (slot == 1) {
        const auto now = std::chrono::steady_clock::now();
        if (count - m_sampleCount > 10240) {
            const auto elapsed =
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - m_sampleTime)
                            .count();
            m_speedText =
                    elapsed ? transferSpeedText((count - m_sampleCount) * 1000 / elapsed) : "";
            m_sampleTime = now;
            m_sampleCount = count;
        }
        emit statusText(
                QString::fromStdString(transferCountText(count) + "/" + m_sizeText + m_speedText));
        if (m_currentSize != 0)
            emit gaugeChanged(true, int(std::min<int64_t>(count * 100 / m_currentSize, 100)));
    }
    abort = !m_continue;
    m_continue = true;
    if (m_openAfter && !m_launched && count > 1024) {
        m_launched = true;
        emit openRequested(QString::fromStdString(m_openPath));
    }
}

void TransferEngine::setOpenAfter(const std::string &localPath)
{
    m_openAfter = true;
    m_launched = false;
    m_openPath = localPath;
}

// --- Download jobs ----------------------------------------------------------------------------

void TransferEngine::beginJob()
{
    if (QueueFtpClient().State() == ftpWaitingResponse) {
        const std::string text =
                QCoreApplication::translate("TransferEngine", kPreviousJob).toStdString();
        log(LogColour::Error, text);
        throw Error(text);
    }
    m_kind[1] = rkDownload;
    m_continue = true;
    clearStacks();
    DoneCount = FailCount = SkipCount = 0;
    m_sampleTime = std::chrono::steady_clock::now();
    m_sampleCount = 0;
    m_existChecked = false;
    m_pendingValid = false;
    m_jobRunning = true;
    m_givenUp = false;
    emit gaugeChanged(true, 0);
}

void TransferEngine::DownloadItem(const TItemData &item, const std::string &localFolder)
{
    beginJob();
    TotalCount = 1;
    showCounters();
    if (!fetchEntry(item, std::string(item.name()), localFolder))
        takeNext();
}

void TransferEngine::DownloadItems(const TItemList &items, const std::string &localFolder)
{
    beginJob();
    m_jobStack.push_back({items, {}});
    m_jobFolders.push_back(localFolder);
    TotalCount = uint32_t(items.size());
    showCounters();
    takeNext();
}

// Entries are taken from the end of the top list, so folders are walked depth-first. An entry
// that cannot even be started counts as failed and the next one is taken at once.
void TransferEngine::takeNext()
{
    for (;;) {
        while (!m_jobStack.empty() && m_jobStack.back().entries.empty()) {
            m_jobStack.pop_back();
            m_jobFolders.pop_back();
        }
        if (m_jobStack.empty()) {
            jobOver();
            return;
        }
        JobList &top = m_jobStack.back();
        const TItemData item = top.entries.back();
        top.entries.pop_back();
        const std::string remote = top.remoteFolder + std::string(item.name());
        const std::string folder = m_jobFolders.back();
        if (top.entries.empty()) {
            m_jobStack.pop_back();
            m_jobFolders.pop_back();
        }
        if (fetchEntry(item, remote, folder))
            return;
    }
}

bool TransferEngine::fetchEntry(
        const TItemData &item, const std::string &remote, std::string localFolder)
{
    localFolder = withSeparator(localFolder);
    const std::optional<std::string> name = localNameOf(remote, m_cp);
    if (!name) {
        failEntry(QCoreApplication::translate("TransferEngine", "Thread1:不能作為本機檔名\"%1\"")
                          .arg(qs(utf8(remote)))
                          .toStdString());
        return false;
    }
    if (!item.isDirectory())
        return fetchFile(item, remote, localFolder + *name);

    TFtpClient &client = QueueFtpClient();
    std::string folder = remote;
    if (folder.empty() || (folder.back() != '\\' && folder.back() != '/'))
        folder += '\\';
    try {
        client.HostDirName = folder;
        client.CwdAsync();
    } catch (const std::exception &e) {
        failEntry(e.what());
        return false;
    }
    m_jobFolders.push_back(localFolder + *name + "/");
    m_cwdFolder = folder;
    return true;
}

void TransferEngine::jobCwdDone(int error)
{
    TFtpClient &client = QueueFtpClient();
    m_cwdFailed = error != 0;
    if (m_cwdFailed) {
        // Listing whatever folder the server is in would fill the local folder with the
        // contents of another one: the folder fails instead.
        jobListDone(error);
        return;
    }
    std::error_code ignored;
    fs::remove(listingFile(1), ignored);
    try {
        client.HostFileName.clear();
        client.SetLocalFileName(listingFile(1).string());
        client.DirAsync();
    } catch (const std::exception &e) {
        m_lastError = e.what();
        log(LogColour::Error, m_lastError);
        jobListDone(-1);
    }
}

void TransferEngine::jobListDone(int error)
{
    JobList list;
    list.remoteFolder = m_cwdFolder;
    if (error == 0) {
        list.entries = m_resultList;
        TotalCount += uint32_t(m_listingFiles);
    } else {
        ++TotalCount;
        ++FailCount;
    }
    showCounters();
    m_jobStack.push_back(std::move(list));
    takeNext();
}

bool TransferEngine::fetchFile(
        const TItemData &item, const std::string &remote, const std::string &local)
{
    TFtpClient &client = QueueFtpClient();
    if (!m_existChecked) {
        m_existChecked = true;
        m_pendingItem = item;
        m_pendingRemote = remote;
        m_pendingLocal = local;
        m_pendingValid = true;
        try {
            client.SetLocalFileName("CHECKEXIST " + remote);
            client.QuoteAsync();
        } catch (const std::exception &e) {
            m_pendingValid = false;
            failEntry(e.what());
            return false;
        }
        return true;
    }

    std::string path = local;
    std::error_code ec;
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty() && !fs::is_directory(parent))
        fs::create_directories(parent, ec);
    ExistChoice mode = ExistChoice::Overwrite;
    if (m_rowRunning) {
        mode = ExistChoice::Resume;
    } else if (m_applyToAll) {
        mode = m_remembered;
    } else if (fs::exists(path)) {
        ExistAnswer answer;
        if (m_questions)
            answer = m_questions->askExisting(item, path);
        if (answer.choice == ExistChoice::GiveUp) {
            // The job stops here, silently; the counters stay as they are.
            m_jobRunning = false;
            m_givenUp = true;
            emit gaugeChanged(false, 0);
            emit jobEnded();
            return true;
        }
        mode = answer.choice;
        if (!answer.localPath.empty())
            path = answer.localPath;
        if (answer.applyToAll) {
            m_applyToAll = true;
            m_remembered = answer.choice;
        }
    }
    if (mode == ExistChoice::Skip && fs::exists(path)) {
        ++SkipCount;
        showCounters();
        return false;
    }
    try {
        client.HostDirName.clear();
        client.HostFileName = remote;
        client.SetLocalFileName(path);
        client.DisplayFileFlag = false;
        m_currentRemote = remote;
        m_currentLocal = path;
        m_currentSize = item.Size;
        m_sizeText = transferSizeText(item.Size);
        // TYPE I goes first: a server whose default type is ASCII rewrites line ends, which
        // corrupts any file that is not text, and refuses REST besides.
        const TFtpFctSet steps = fct(ftpFctTypeSet) | fct(ftpFctPort) | fct(ftpFctGet);
        if (mode == ExistChoice::Resume)
            client.HighLevelAsync(ftpRestGetAsync, steps | fct(ftpFctRest));
        else
            client.HighLevelAsync(ftpGetAsync, steps);
    } catch (const std::exception &e) {
        failEntry(e.what());
        return false;
    }
    return true;
}

void TransferEngine::fileDone(int error)
{
    if (error)
        ++FailCount;
    else
        ++DoneCount;
    showCounters();
    log(LogColour::Progress,
            QCoreApplication::translate("TransferEngine", "Thread1:下載\"%1\"至\"%2\"")
                    .arg(qs(utf8(m_currentRemote)), qs(m_currentLocal))
                    .toStdString());
    takeNext();
}

void TransferEngine::failEntry(const std::string &text)
{
    m_lastError = text;
    log(LogColour::Error, text);
    emit statusText(QString::fromStdString(text));
    ++FailCount;
    showCounters();
}

void TransferEngine::jobOver()
{
    if (!m_jobRunning)
        return;
    m_jobRunning = false;
    emit gaugeChanged(false, 0);
    m_openAfter = false;
    m_launched = false;
    if (m_rowRunning)
        finishRow();
    emit jobEnded();
}

void TransferEngine::showCounters()
{
    emit countersChanged();
}

void TransferEngine::clearStacks()
{
    m_jobStack.clear();
    m_jobFolders.clear();
}

fs::path TransferEngine::listingFile(int slot) const
{
    // One file per client: a browse and a job's folder walk may list at the same time.
    return m_listingFolder / (slot == 0 ? "TAMBRELO.DIR" : "TAMBRELO1.DIR");
}

// --- Queue ------------------------------------------------------------------------------------

void TransferEngine::addDroppedRows(
        const std::vector<std::string> &dragEntries, const std::string &downloadFolder)
{
    for (const std::string &text : dragEntries) {
        const std::optional<DragEntry> entry = parseDragEntry(text);
        if (!entry)
            continue;
        QueueRow row;
        row.remote = entry->path;
        row.folder = entry->folder;
        row.size = entry->folder ? 0 : entry->sizeKb * 1024u;
        const std::optional<std::string> name = localNameOf(entry->path, m_cp);
        row.local = withSeparator(downloadFolder) + name.value_or(std::string());
        row.time = nowDateTime();
        m_queue.rows.push_back(std::move(row));
    }
    emit queueChanged();
}

void TransferEngine::setQueueOn(bool on)
{
    m_queueOn = on;
    if (on)
        m_workTimer.start();
    else
        m_workTimer.stop();
}

void TransferEngine::WorkTimerTimer()
{
    if (m_rowRunning)
        return;
    const std::optional<size_t> next = m_queue.pickNext(TryCount);
    if (!next)
        return;
    QueueRow &row = m_queue.rows[*next];
    if (QueueFtpClient().State() == ftpWaitingResponse) {
        const std::string text =
                QCoreApplication::translate("TransferEngine", kPreviousJob).toStdString();
        log(LogColour::Error, text);
        throw Error(text);
    }
    m_rowRunning = true;
    TItemData item;
    item.setName(row.remote);
    if (row.folder) {
        item.Attr = 0x10;
    } else {
        item.Size = row.size;
    }
    row.state = RowState::Working;
    row.time = nowDateTime();
    ++row.tries;
    emit queueChanged();
    const std::string folder = fs::path(row.local).parent_path().string();
    try {
        DownloadItem(item, folder);
    } catch (...) {
        m_rowRunning = false;
        throw;
    }
}

void TransferEngine::finishRow()
{
    m_queue.finishRunning(DoneCount, FailCount, nowDateTime());
    m_rowRunning = false;
    emit queueChanged();
}

void TransferEngine::deleteRows(std::vector<size_t> indexes)
{
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
        if (*it >= m_queue.rows.size())
            continue;
        if (m_queue.rows[*it].state == RowState::Working)
            AbortTransfer();
        m_queue.rows.erase(m_queue.rows.begin() + std::ptrdiff_t(*it));
    }
    emit queueChanged();
}

void TransferEngine::renewRow(size_t index)
{
    m_queue.renew(index, nowDateTime());
    emit queueChanged();
}

} // namespace veltrano
