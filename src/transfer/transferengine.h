#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QObject>
#include <QTimer>

#include "cache/indexscan.h"
#include "ftp/ftpcli.h"
#include "protocol/findstream.h"
#include "transfer/queuerows.h"
#include "util/codepage.h"

namespace veltrano {

// What a client's current work belongs to. Set when the work starts; only a refusal of the
// search server resets it.
enum RequestKind : uint8_t {
    rkNone = 0,
    rkDownload = 5,
    rkSearch = 6,
    rkBrowse = 8
};

enum class LogColour {
    Trace,
    Progress,
    Error
}; // green, navy, red

// How a file that already exists locally is fetched.
enum class ExistChoice {
    Overwrite,
    Resume,
    Skip,
    GiveUp
};

struct ExistAnswer
{
    ExistChoice choice = ExistChoice::GiveUp;
    std::string localPath; // UTF-8; the user may have picked another one
    bool applyToAll = false;
};

// The questions a job may have to ask; the window answers them with its dialogs, the command
// line with its options.
class TransferQuestions
{
public:
    virtual ~TransferQuestions() = default;
    // A file to fetch exists at localPath.
    virtual ExistAnswer askExisting(const TItemData &remote, const std::string &localPath) = 0;
    // The server said 530; true with new credentials (code-page bytes) to log on again.
    virtual bool askLogon(std::string &user, std::string &password) = 0;
};

// The link to a remote search server: two FTP clients side by side, the directory client for
// searches and browsing (slot 0) and the queue client for download jobs (slot 1), the download
// queue and the remote search's stream. Everything runs on the thread of its event loop; the
// clients' events arrive through it and are never re-entered.
//
// Server paths are code-page bytes with '\' (or '/') as separator; local paths are UTF-8.
// A job fetches one entry or a list of entries, folders walked depth-first with CWD and LIST,
// and asks the server once per job (CHECKEXIST) before its first file.
class TransferEngine : public QObject
{
    Q_OBJECT

public:
    // `listingFolder` holds the listing files the clients fetch LIST into.
    TransferEngine(CodePage cp, std::filesystem::path listingFolder, QObject *parent = nullptr);
    ~TransferEngine() override;

    TFtpClient &DirFtpClient() { return *m_clients[0]; }
    TFtpClient &QueueFtpClient() { return *m_clients[1]; }
    RequestKind requestKind(int slot) const { return m_kind[slot]; }
    void setQuestions(TransferQuestions *questions) { m_questions = questions; }

    // Sessions. Misuse of a client (already connected, not ready) throws FtpException.
    void ConnectSessions(const std::string &host, const std::string &user, const std::string &port,
            const std::string &password);
    void ReconnectSessions(const std::string &host, const std::string &user,
            const std::string &port, const std::string &password);
    // One client only, for work that needs only one of them.
    void ConnectSession(int slot, const std::string &host, const std::string &user,
            const std::string &port, const std::string &password);
    void DropSessions();
    // Aborts both clients at once (the toolbar's 放棄). The clients report nothing of an
    // abort, so the work they had is ended here: the job with its files not fetched counted as
    // failed, a running search with its end.
    void AbortSessions();
    void SetPassiveMode(bool passive);

    // Work. The argument of a search and server paths are code-page bytes.
    void StartRemoteSearch(const std::string &argument);
    void AbortTransfer() { m_continue = false; }
    void BrowseRemoteFolder(const std::string &folder);
    // Throw Error "之前的工作尚未完成" while the queue client waits for a reply.
    void DownloadItem(const TItemData &item, const std::string &localFolder);
    void DownloadItems(const TItemList &items, const std::string &localFolder);

    // The queue.
    QueueRows &queue() { return m_queue; }
    void addDroppedRows(
            const std::vector<std::string> &dragEntries, const std::string &downloadFolder);
    void setQueueOn(bool on);
    bool queueOn() const { return m_queueOn; }
    bool rowRunning() const { return m_rowRunning; }
    int TryCount = 0;
    // One tick of the queue timer; throws Error when the job start is refused.
    void WorkTimerTimer();
    // Deletes the rows (indexes in any order); a running one aborts the file in transfer.
    void deleteRows(std::vector<size_t> indexes);
    void renewRow(size_t index);

    // Results of the last listing or search, and the search's totals.
    const TItemList &ResultList() const { return m_resultList; }
    int FoundFiles() const { return m_find.foundFiles(); }
    int FoundFolders() const { return m_find.foundFolders(); }
    int listingFolders() const { return m_listingFolders; }
    int listingFiles() const { return m_listingFiles; }

    // Job counters.
    uint32_t TotalCount = 0, DoneCount = 0, FailCount = 0;
    uint32_t SkipCount = 0; // files kept because the answer was to skip them
    bool jobRunning() const { return m_jobRunning; }
    bool jobGivenUp() const { return m_givenUp; }
    const std::string &lastError() const { return m_lastError; }

    // Opening after a download: the path to open once the first kilobyte has arrived.
    void setOpenAfter(const std::string &localPath);

    // Notifications; an unset one is skipped.
    std::function<void()> OnListDone;
    std::function<void()> OnFindResults;
    std::function<void()> OnFindDone;

signals:
    void logLine(veltrano::LogColour colour, const QString &text); // newest last
    void statusText(const QString &text); // panel 0
    void countersChanged();
    void gaugeChanged(bool enabled, int percent);
    void queueChanged();
    // A job ended: over, refused, or given up at a question.
    void jobEnded();
    // A search ended without a stream: the reply refused it or the request failed.
    void searchFailed(const QString &reply);
    void openRequested(const QString &localPath);
    // Every completed request of either client, after the engine has acted on it.
    void requestFinished(int slot, int request, int error);

private:
    struct JobList
    {
        TItemList entries;
        std::string remoteFolder; // prefix of the entries' names ("" for names that are full)
    };

    void log(LogColour colour, const std::string &utf8);
    void logSlot(LogColour colour, int slot, const std::string &utf8);
    std::string utf8(std::string_view bytes) const { return m_cp.toUtf8(bytes); }
    void hookClient(int slot);
    void requestDone(int slot, TFtpRequest request, int error);
    bool actOnReply(int slot, TFtpRequest request);
    void refuse(int slot);
    void afterRequest(int slot, TFtpRequest request, int error);
    void onProgress(int slot, int64_t count, bool &abort);

    void beginJob();
    void takeNext();
    bool fetchEntry(const TItemData &item, const std::string &remote, std::string localFolder);
    bool fetchFile(const TItemData &item, const std::string &remote, const std::string &local);
    void jobCwdDone(int error);
    void jobListDone(int error);
    void fileDone(int error);
    void failEntry(const std::string &text);
    void jobOver();
    void finishRow();
    void showCounters();
    void clearStacks();
    void endInterruptedWork();
    std::filesystem::path listingFile(int slot) const;

    CodePage m_cp;
    std::filesystem::path m_listingFolder;
    TFtpClient *m_clients[2];
    RequestKind m_kind[2] = {rkNone, rkNone};
    TransferQuestions *m_questions = nullptr;

    FindStream m_find;
    TItemList m_resultList;
    int m_listingFolders = 0, m_listingFiles = 0;
    bool m_searchRunning = false;
    std::string m_browseFolder;

    std::vector<JobList> m_jobStack;
    std::vector<std::string> m_jobFolders;
    std::string m_cwdFolder; // the folder entry's server path while its CWD and LIST run
    bool m_cwdFailed = false;
    bool m_existChecked = false;
    TItemData m_pendingItem;
    std::string m_pendingRemote, m_pendingLocal;
    bool m_pendingValid = false;
    bool m_jobRunning = false;
    bool m_givenUp = false;
    std::string m_currentRemote, m_currentLocal;
    uint32_t m_currentSize = 0;
    std::string m_sizeText, m_speedText;
    std::chrono::steady_clock::time_point m_sampleTime;
    int64_t m_sampleCount = 0;
    bool m_continue = true;
    bool m_applyToAll = false;
    ExistChoice m_remembered = ExistChoice::Overwrite;

    QueueRows m_queue;
    bool m_queueOn = false;
    bool m_rowRunning = false;
    QTimer m_workTimer;

    bool m_openAfter = false, m_launched = false;
    std::string m_openPath;
    std::string m_lastError;
};

} // namespace veltrano
