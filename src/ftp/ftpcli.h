#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QObject>

#include "util/error.h"

namespace veltrano {

class TWSocket;

enum TFtpState {
    ftpNotConnected,
    ftpReady,
    ftpInternalReady,
    ftpDnsLookup,
    ftpConnected,
    ftpAbort,
    ftpInternalAbort,
    ftpWaitingBanner,
    ftpWaitingResponse
};

// The request type reported on completion.
enum TFtpRequest {
    ftpNone, ftpOpenAsync, ftpUserAsync, ftpPassAsync, ftpCwdAsync, ftpConnectAsync,
    ftpReceiveAsync, ftpDirAsync, ftpLsAsync, ftpPortAsync, ftpGetAsync, ftpDirectoryAsync,
    ftpListAsync, ftpSystemAsync, ftpSystAsync, ftpQuitAsync, ftpSizeAsync, ftpPutAsync,
    ftpAppendAsync, ftpFileSizeAsync, ftpRqAbort, ftpMkdAsync, ftpRmdAsync, ftpRenameAsync,
    ftpDeleAsync, ftpRenAsync, ftpRenToAsync, ftpRenFromAsync, ftpDeleteAsync, ftpMkdirAsync,
    ftpRmdirAsync, ftpPwdAsync, ftpQuoteAsync, ftpCDupAsync, ftpDoQuoteAsync, ftpTransmitAsync,
    ftpTypeSetAsync, ftpRestAsync, ftpRestGetAsync, ftpRestartGetAsync, ftpRestPutAsync,
    ftpRestartPutAsync
};

// Steps of a high-level request.
enum TFtpFct {
    ftpFctNone, ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctSize, ftpFctMkd, ftpFctRmd,
    ftpFctRenFrom, ftpFctRenTo, ftpFctGet, ftpFctDir, ftpFctQuit, ftpFctSyst, ftpFctDele,
    ftpFctPwd, ftpFctQuote, ftpFctPut, ftpFctTypeSet, ftpFctRest, ftpFctCDup, ftpFctLs,
    ftpFctAppend, ftpFctPort
};
using TFtpFctSet = uint32_t;
constexpr TFtpFctSet fct(TFtpFct step)
{
    return TFtpFctSet(1) << step;
}

enum TFtpShareMode {
    ftpShareCompat,
    ftpShareExclusive,
    ftpShareDenyWrite,
    ftpShareDenyRead,
    ftpShareDenyNone
};
enum TFtpDisplayFileMode { ftpLineByLine, ftpBinary };
enum TFtpConnectionType { ftpDirect, ftpProxy, ftpSocks4, ftpSocks4A, ftpSocks5 };

// Options bits.
constexpr unsigned ftpAcceptLF = 1;       // a reply line may end with LF alone
constexpr unsigned ftpNoAutoResumeAt = 2; // REST does not take the local file's size

// Misuse of the client: the request is refused, nothing is sent and nothing completes.
class FtpException : public Error
{
public:
    using Error::Error;
};

// An event-driven FTP client for the thread that runs its Qt event loop. Every request returns
// at once and ends with exactly one OnRequestDone, delivered from the event loop after the
// client has settled in ftpReady. A high-level request runs a set of steps (open, USER, PASS,
// CWD, PORT or PASV, REST, RETR, LIST, QUIT, ...) in a fixed order and reports once at the
// end. Transfers never block the event loop: data is read in 2048-byte chunks as it arrives.
// A download leaves an existing local file as it is until the server has said yes to RETR and
// sent data, and fails when the bytes that came differ from the size the server announced.
//
// Only the requests this program uses are built: log-on, CWD, CDUP, TYPE, SYST, PWD, SIZE,
// quote, QUIT, downloads (RETR with or without REST) and LIST. Uploads, renames, deletes and
// folder creation are refused.
class TCustomFtpCli : public QObject
{
    Q_OBJECT

public:
    using TFtpDisplay = std::function<void(TCustomFtpCli &sender, const std::string &text)>;
    using TFtpProgress = std::function<void(TCustomFtpCli &sender, int64_t count, bool &abort)>;
    using TFtpSessionEvent = std::function<void(TCustomFtpCli &sender, int error)>;
    using TFtpRequestDone = std::function<void(TCustomFtpCli &sender, TFtpRequest request, int error)>;
    using TFtpNotify = std::function<void(TCustomFtpCli &sender)>;

    explicit TCustomFtpCli(QObject *parent = nullptr);
    ~TCustomFtpCli() override;

    // Settings.
    std::string HostName, Port = "ftp", UserName, PassWord;
    std::string HostDirName, HostFileName;
    const std::string &LocalFileName() const { return m_localFileName; }
    void SetLocalFileName(const std::string &name) { m_localFileName = name; }
    bool DisplayFileFlag = false;
    bool Binary() const { return m_binary; }
    void SetBinary(bool binary) { m_binary = binary; }
    bool Passive() const { return m_passive; }
    void SetPassive(bool passive); // only a direct connection may turn it off
    TFtpDisplayFileMode DisplayFileMode() const { return m_displayFileMode; }
    void SetDisplayFileMode(TFtpDisplayFileMode mode) { m_displayFileMode = mode; }
    // Kept for the callers' sake; Linux files have no share modes, so it changes nothing.
    TFtpShareMode ShareMode = ftpShareExclusive;
    unsigned Options = 0;
    TFtpConnectionType ConnectionType() const { return m_connectionType; }
    int Timeout = 15; // seconds, for the synchronous calls
    bool MultiThreaded = false;
    int SlotNumber = 0; // the owner's label for this client; never read here

    // Outcome of the last reply and request.
    std::string ErrorMessage;
    int ReplyCode() const { return m_replyCode; }
    const std::string &LastReply() const { return m_lastReply; }
    TFtpState State() const { return m_state; }
    bool Connected() const { return m_connected; }
    const std::string &ReplyDir() const { return m_replyDir; }
    int64_t ReplySize() const { return m_replySize; }
    int64_t ResumeOffset() const { return m_resumeOffset; }
    int64_t ByteCount() const { return m_byteCount; }
    TFtpRequest RequestType() const { return m_requestType; }

    // Requests. Misuse throws FtpException ("FTP component not ready", "FTP component not
    // connected", "FTP component already connected", "... emtpy", "LocalFileName empty", or an
    // argument holding CR, LF or NUL); nothing is then sent and nothing completes.
    void ConnectAsync() { HighLevelAsync(ftpConnectAsync, fct(ftpFctOpen) | fct(ftpFctUser) | fct(ftpFctPass)); }
    void GetAsync() { HighLevelAsync(ftpGetAsync, fct(ftpFctPort) | fct(ftpFctGet)); }
    void RestGetAsync() { HighLevelAsync(ftpRestGetAsync, fct(ftpFctPort) | fct(ftpFctRest) | fct(ftpFctGet)); }
    void DirAsync() { HighLevelAsync(ftpDirAsync, fct(ftpFctPort) | fct(ftpFctDir)); }
    void HighLevelAsync(TFtpRequest request, TFtpFctSet steps);
    void CwdAsync();
    void QuoteAsync(); // sends LocalFileName as the command line
    void QuitAsync();
    // Drops everything at once: no completion event of its own.
    void AbortAsync();

    // Events, run on the client's thread; an unset event is skipped.
    TFtpDisplay OnDisplay;     // trace: "> command", "< reply", "! note"
    TFtpDisplay OnDisplayFile; // received data in display-file mode
    TFtpProgress OnProgress;   // bytes so far (resume offset included); set abort to stop
    TFtpSessionEvent OnSessionConnected;
    TFtpSessionEvent OnSessionClosed;
    TFtpRequestDone OnRequestDone;
    TFtpNotify OnStateChange;

protected:
    virtual void Progress(int64_t count, bool &abort);
    // Error of the last request that reported done.
    int LastRequestError() const { return m_lastDoneError; }
    // Ends a synchronous wait that ran out of time: abort, "426 Timeout".
    void timedOut();

private:
    using Callback = void (TCustomFtpCli::*)();
    using LineHandler = void (TCustomFtpCli::*)(const std::string &line);

    void setState(TFtpState state);
    void checkReady() const;
    void display(const std::string &text);
    void SendCommand(const std::string &command);
    void beginRequest(TFtpRequest request);
    void ExecAsync(TFtpRequest request, TFtpFct step, const std::string &command,
                   std::vector<int> okCodes, Callback done = nullptr);
    void replyCheck(const std::string &line);
    void checkArguments(TFtpFctSet steps) const;
    void nextStep();
    void runStep(TFtpFct step);
    void TriggerRequestDone(int error);
    void failRequest(int code, const std::string &reply);
    void failRequestWith(int code, const std::string &reply, int doneError);
    void stepDone(int error);
    void guarded(const std::function<void()> &body);

    void OpenAsync();
    void onDnsLookupDone(int error);
    void onControlConnected(int error);
    void onControlData();
    void handleReplyLine(const std::string &line);
    void onControlClosed(int error);
    void closeControl();

    void PortAsync();
    void RestAsync();
    void restDone();
    void dataStep(TFtpFct step);
    bool localFileWritable() const;
    bool openLocalFile();
    void localFileFailed(const std::string &text);
    void closeLocalFile();
    bool flushLocalFile();
    void dataReplyFirst(const std::string &line);
    void dataReplyFinal(const std::string &line);
    void traceOnly(const std::string &line);
    void onDataSessionAvailable();
    void onDataConnected(int error);
    void onDataAvailable();
    void deliverData(const char *data, size_t size);
    void onDataClosed(int error);
    void finishTransferIfDone();
    void checkAnnouncedSize();
    void TransferStats();

    TWSocket *m_control;
    TWSocket *m_data;

    std::string m_localFileName;
    bool m_binary = true;
    bool m_passive = false;
    TFtpDisplayFileMode m_displayFileMode = ftpLineByLine;
    TFtpConnectionType m_connectionType = ftpDirect;

    TFtpState m_state = ftpReady;
    bool m_connected = false;
    int m_replyCode = 0;
    std::string m_lastReply;
    std::string m_replyDir;
    int64_t m_replySize = 0;
    int64_t m_resumeOffset = 0;
    int64_t m_byteCount = 0;
    std::string m_receiveBuffer;
    std::string m_pasvReply;

    // The running request.
    TFtpRequest m_requestType = ftpNone;
    TFtpFctSet m_steps = 0;
    TFtpFct m_step = ftpFctNone; // the step whose reply is awaited
    std::vector<int> m_okCodes;
    LineHandler m_next = nullptr;
    Callback m_done = nullptr;
    int m_error = 0;
    int m_highLevelError = 0;
    bool m_highLevel = false;
    bool m_requestDone = true;
    bool m_userSent = false;
    int m_userReplyCode = 0;
    bool m_quitRan = false;
    std::string m_savedReply;
    int m_savedReplyCode = 0;
    bool m_closingOnPurpose = false;
    int m_lastDoneError = 0;

    // The running transfer.
    int m_localFile = -1;
    bool m_localFilePending = false; // opened (and cut) only once data arrives
    int64_t m_announcedSize = -1;
    bool m_asciiType = false; // TYPE A was accepted: byte counts differ from file sizes
    std::string m_writeBuffer;
    bool m_transferActive = false;
    bool m_replyComplete = false;
    bool m_dataComplete = false;
    int m_dataError = 0;
    std::string m_dataCommand = "RETR";
    std::string m_pendingLine;
    bool m_lastWasCr = false;
    std::chrono::steady_clock::time_point m_transferStart;
};

// The client with synchronous calls that re-enter the event loop while they wait.
class TFtpClient : public TCustomFtpCli
{
    Q_OBJECT

public:
    explicit TFtpClient(QObject *parent = nullptr);

    bool Quit() { return Synchronize(&TCustomFtpCli::QuitAsync); }
    bool Abort() { return Synchronize(&TCustomFtpCli::AbortAsync); }
    // Runs the call, then waits for ftpReady; false on an error, an exception or time-out
    // (Timeout seconds without progress: the request is aborted with "426 Timeout").
    bool Synchronize(void (TCustomFtpCli::*call)());
    bool WaitUntilReady();

protected:
    void Progress(int64_t count, bool &abort) override;

private:
    std::chrono::steady_clock::time_point m_deadline;
};

} // namespace veltrano
