#include "ftp/ftpcli.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include "ftp/ftpreply.h"
#include "net/wsockerror.h"
#include "net/wsocket.h"

namespace veltrano {

namespace {

constexpr size_t kDataChunk = 2048;
constexpr size_t kWriteBlock = 64 * 1024;
constexpr size_t kEarlyDataLimit = 1024 * 1024;

// The order in which a high-level request takes its steps.
constexpr TFtpFct kStepOrder[] = {
    ftpFctOpen, ftpFctUser,  ftpFctPass, ftpFctCwd,     ftpFctCDup,  ftpFctTypeSet,
    ftpFctPort, ftpFctRest,  ftpFctGet,  ftpFctPut,     ftpFctAppend, ftpFctDir,
    ftpFctLs,   ftpFctSyst,  ftpFctMkd,  ftpFctRmd,     ftpFctRenFrom, ftpFctRenTo,
    ftpFctSize, ftpFctDele,  ftpFctPwd,  ftpFctQuote,   ftpFctQuit,
};

constexpr TFtpFctSet kSupportedSteps = fct(ftpFctOpen) | fct(ftpFctUser) | fct(ftpFctPass)
                                       | fct(ftpFctCwd) | fct(ftpFctCDup) | fct(ftpFctTypeSet)
                                       | fct(ftpFctPort) | fct(ftpFctRest) | fct(ftpFctGet)
                                       | fct(ftpFctDir) | fct(ftpFctSyst) | fct(ftpFctSize)
                                       | fct(ftpFctPwd) | fct(ftpFctQuote) | fct(ftpFctQuit);

std::string winsockReply(int error)
{
    return "500 " + WSocketErrorDesc(error) + " (Winsock error #" + std::to_string(error) + ")";
}

// Refuses a text that would break out of its command line (or, as a local name, be cut short).
void checkArgument(const std::string &text, const char *name)
{
    if (holdsLineBreakOrNul(text))
        throw FtpException(std::string(name) + " holds a line break or NUL character");
}

// The server's answer to PASS may quote it, and the trace ends up on screen and in logs.
std::string withoutPassword(std::string text, const std::string &password)
{
    if (password.empty())
        return text;
    for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + 8))
        text.replace(at, password.size(), "********");
    return text;
}

} // namespace

TCustomFtpCli::TCustomFtpCli(QObject *parent)
    : QObject(parent)
    , m_control(new TWSocket(this))
    , m_data(new TWSocket(this))
{
    m_control->OnDnsLookupDone = [this](TWSocket &, int error) { guarded([&] { onDnsLookupDone(error); }); };
    m_control->OnSessionConnected = [this](TWSocket &, int error) { guarded([&] { onControlConnected(error); }); };
    m_control->OnDataAvailable = [this](TWSocket &, int) { guarded([&] { onControlData(); }); };
    m_control->OnSessionClosed = [this](TWSocket &, int error) { guarded([&] { onControlClosed(error); }); };
    m_data->OnSessionAvailable = [this](TWSocket &, int) { guarded([&] { onDataSessionAvailable(); }); };
    m_data->OnSessionConnected = [this](TWSocket &, int error) { guarded([&] { onDataConnected(error); }); };
    m_data->OnDataAvailable = [this](TWSocket &, int) { guarded([&] { onDataAvailable(); }); };
    m_data->OnSessionClosed = [this](TWSocket &, int error) { guarded([&] { onDataClosed(error); }); };
}

TCustomFtpCli::~TCustomFtpCli()
{
    closeLocalFile();
    m_control->OnSessionClosed = nullptr;
    m_data->OnSessionClosed = nullptr;
}

void TCustomFtpCli::SetPassive(bool passive)
{
    m_passive = m_connectionType == ftpDirect ? passive : true;
}

void TCustomFtpCli::setState(TFtpState state)
{
    if (state == m_state)
        return;
    m_state = state;
    if (OnStateChange)
        OnStateChange(*this);
}

void TCustomFtpCli::checkReady() const
{
    if (m_state != ftpReady && m_state != ftpInternalReady)
        throw FtpException("FTP component not ready");
}

void TCustomFtpCli::display(const std::string &text)
{
    if (OnDisplay)
        OnDisplay(*this, withoutPassword(text, PassWord));
}

// An exception inside a socket event ends the running request instead of leaving it waiting.
void TCustomFtpCli::guarded(const std::function<void()> &body)
{
    try {
        body();
    } catch (const std::exception &e) {
        display(std::string("! ") + e.what());
        if (!m_requestDone) {
            m_highLevel = false;
            failRequest(500, std::string("500 ") + e.what());
        }
    }
}

void TCustomFtpCli::SendCommand(const std::string &command)
{
    // The trace is shown on screen and kept in logs: the password never appears in it.
    if (command.compare(0, 5, "PASS ") == 0)
        display("> PASS ********");
    else
        display("> " + command);
    if (m_control->State() == wsConnected)
        m_control->SendStr(command + "\r\n");
}

void TCustomFtpCli::beginRequest(TFtpRequest request)
{
    m_requestType = request;
    m_requestDone = false;
    m_error = 0;
    ErrorMessage.clear();
    m_quitRan = false;
}

void TCustomFtpCli::ExecAsync(TFtpRequest request, TFtpFct step, const std::string &command,
                              std::vector<int> okCodes, Callback done)
{
    checkArgument(command, "The command");
    checkReady();
    if (!m_connected)
        throw FtpException("FTP component not connected");
    if (!m_highLevel)
        beginRequest(request);
    m_step = step;
    m_okCodes = std::move(okCodes);
    m_done = done;
    m_next = &TCustomFtpCli::replyCheck;
    m_error = 0;
    setState(ftpWaitingResponse);
    SendCommand(command);
}

void TCustomFtpCli::replyCheck(const std::string &line)
{
    display("< " + line);
    m_replyCode = replyCode(line);
    const bool ok = m_okCodes.empty()
                        ? m_replyCode < 500
                        : std::find(m_okCodes.begin(), m_okCodes.end(), m_replyCode) != m_okCodes.end();
    if (!ok) {
        m_error = m_replyCode;
        if (ErrorMessage.empty())
            ErrorMessage = m_lastReply;
    }
    if (m_passive && m_replyCode == 227)
        m_pasvReply = line;
    if (ok && m_step == ftpFctTypeSet)
        m_asciiType = !m_binary;
    if (m_step == ftpFctUser)
        m_userReplyCode = m_replyCode;
    if (ok && m_step == ftpFctSize)
        m_replySize = extractReplySize(line);
    if (ok && (m_step == ftpFctCwd || m_step == ftpFctPwd || m_step == ftpFctCDup || m_step == ftpFctMkd))
        m_replyDir = extractReplyDir(line);
    m_next = &TCustomFtpCli::traceOnly;
    if (m_done)
        (this->*m_done)();
    else if (m_highLevel)
        nextStep();
    else
        TriggerRequestDone(m_error);
}

void TCustomFtpCli::traceOnly(const std::string &line)
{
    display("< " + line);
}

void TCustomFtpCli::HighLevelAsync(TFtpRequest request, TFtpFctSet steps)
{
    if (m_connected && (steps & fct(ftpFctOpen)))
        throw FtpException("FTP component already connected");
    checkReady();
    if (steps & ~kSupportedSteps)
        throw FtpException("FTP request not supported");
    if (!m_connected && !(steps & fct(ftpFctOpen)))
        throw FtpException("FTP component not connected");
    if ((steps & fct(ftpFctUser)) && UserName.empty())
        throw FtpException("UserName emtpy");
    // PASS may turn out not to be needed, but a log-on that is bound to fail halfway is refused
    // before USER goes out.
    if ((steps & fct(ftpFctPass)) && PassWord.empty())
        throw FtpException("Password emtpy");
    if ((steps & (fct(ftpFctGet) | fct(ftpFctDir))) && m_localFileName.empty() && !DisplayFileFlag)
        throw FtpException("LocalFileName empty");
    checkArguments(steps);
    if (!(Options & ftpNoAutoResumeAt))
        m_resumeOffset = 0;
    beginRequest(request);
    m_savedReply = m_lastReply;
    m_savedReplyCode = m_replyCode;
    m_steps = steps;
    m_highLevelError = 0;
    m_lastReply.clear();
    m_highLevel = true;
    m_userSent = false;
    m_userReplyCode = 0;
    try {
        nextStep();
    } catch (...) {
        m_highLevel = false;
        m_requestDone = true;
        m_steps = 0;
        setState(ftpReady);
        throw;
    }
}

// Every text a step will send is looked at before the first command goes out, so that a bad one
// leaves nothing half done on the server.
void TCustomFtpCli::checkArguments(TFtpFctSet steps) const
{
    if (steps & fct(ftpFctOpen))
        checkArgument(HostName, "HostName");
    if (steps & fct(ftpFctUser))
        checkArgument(UserName, "UserName");
    if (steps & fct(ftpFctPass))
        checkArgument(PassWord, "PassWord");
    if (steps & fct(ftpFctCwd))
        checkArgument(HostDirName, "HostDirName");
    if (steps & (fct(ftpFctGet) | fct(ftpFctDir) | fct(ftpFctSize)))
        checkArgument(HostFileName, "HostFileName");
    if (steps & (fct(ftpFctGet) | fct(ftpFctDir) | fct(ftpFctQuote)))
        checkArgument(m_localFileName, "LocalFileName");
}

void TCustomFtpCli::nextStep()
{
    if (m_state == ftpAbort) {
        m_highLevelError = 426;
        ErrorMessage = "426 Operation aborted.";
        m_steps = 0;
    } else if (m_error != 0) {
        m_highLevelError = m_error;
        const bool quitStill = (m_steps & fct(ftpFctQuit)) && m_step != ftpFctQuit;
        m_steps = quitStill ? fct(ftpFctQuit) : 0;
    }
    for (const TFtpFct step : kStepOrder) {
        if (!(m_steps & fct(step)))
            continue;
        m_steps &= ~fct(step);
        if (step == ftpFctPass && m_userSent && m_userReplyCode != 331)
            continue;
        if (step == ftpFctCwd && HostDirName.empty())
            continue;
        if (step == ftpFctQuit && !m_connected)
            continue;
        if (m_state != ftpAbort)
            setState(ftpInternalReady);
        runStep(step);
        return;
    }
    m_highLevel = false;
    TriggerRequestDone(m_highLevelError);
}

void TCustomFtpCli::runStep(TFtpFct step)
{
    switch (step) {
    case ftpFctOpen:
        return OpenAsync();
    case ftpFctUser:
        if (UserName.empty())
            throw FtpException("UserName emtpy");
        m_userSent = true;
        return ExecAsync(ftpUserAsync, step, "USER " + UserName, {331, 230});
    case ftpFctPass:
        if (PassWord.empty())
            throw FtpException("Password emtpy");
        return ExecAsync(ftpPassAsync, step, "PASS " + PassWord, {230});
    case ftpFctCwd:
        return ExecAsync(ftpCwdAsync, step, "CWD " + HostDirName, {200, 250, 257});
    case ftpFctCDup:
        return ExecAsync(ftpCDupAsync, step, "CDUP", {200, 250, 257});
    case ftpFctTypeSet:
        return ExecAsync(ftpTypeSetAsync, step, m_binary ? "TYPE I" : "TYPE A", {200});
    case ftpFctPort:
        return PortAsync();
    case ftpFctRest:
        return RestAsync();
    case ftpFctGet:
    case ftpFctDir:
        return dataStep(step);
    case ftpFctSyst:
        return ExecAsync(ftpSystAsync, step, "SYST", {215});
    case ftpFctSize:
        return ExecAsync(ftpSizeAsync, step, "SIZE " + HostFileName, {213});
    case ftpFctPwd:
        return ExecAsync(ftpPwdAsync, step, "PWD", {257});
    case ftpFctQuote:
        return ExecAsync(ftpQuoteAsync, step, m_localFileName, {});
    case ftpFctQuit:
        // The request reports the reply that came before QUIT.
        m_savedReply = m_lastReply;
        m_savedReplyCode = m_replyCode;
        m_quitRan = true;
        return ExecAsync(ftpQuitAsync, step, "QUIT", {221}, &TCustomFtpCli::closeControl);
    default:
        throw FtpException("FTP request not supported");
    }
}

void TCustomFtpCli::CwdAsync()
{
    if (HostDirName.empty())
        throw FtpException("HostDirName emtpy");
    checkArgument(HostDirName, "HostDirName");
    ExecAsync(ftpCwdAsync, ftpFctCwd, "CWD " + HostDirName, {200, 250, 257});
}

void TCustomFtpCli::QuoteAsync()
{
    checkArgument(m_localFileName, "LocalFileName");
    ExecAsync(ftpQuoteAsync, ftpFctQuote, m_localFileName, {});
}

void TCustomFtpCli::QuitAsync()
{
    ExecAsync(ftpQuitAsync, ftpFctQuit, "QUIT", {221}, &TCustomFtpCli::closeControl);
}

void TCustomFtpCli::AbortAsync()
{
    setState(ftpAbort);
    m_requestType = ftpRqAbort; // the closes below report nothing
    m_requestDone = true;
    m_transferActive = false;
    m_highLevel = false;
    m_steps = 0;
    m_quitRan = false;
    closeLocalFile();
    m_control->CancelDnsLookup();
    if (m_control->State() != wsClosed)
        m_control->Close();
    if (m_data->State() != wsClosed)
        m_data->Close();
    m_connected = false;
    m_receiveBuffer.clear();
    m_lastDoneError = 0;
    setState(ftpReady);
}

void TCustomFtpCli::timedOut()
{
    AbortAsync();
    ErrorMessage = "426 Timeout";
    m_replyCode = 426;
    m_lastDoneError = 426;
}

void TCustomFtpCli::TriggerRequestDone(int error)
{
    if (m_requestDone)
        return;
    if (error == 0 && m_highLevel) {
        nextStep();
        return;
    }
    m_requestDone = true;
    m_highLevel = false;
    m_steps = 0;
    m_transferActive = false;
    closeLocalFile();
    if (m_data->State() != wsClosed)
        m_data->Close();
    if (m_quitRan) {
        m_lastReply = m_savedReply;
        m_replyCode = m_savedReplyCode;
        m_quitRan = false;
    }
    m_lastDoneError = error;
    if (m_state != ftpAbort)
        setState(ftpReady);
    const TFtpRequest request = m_requestType;
    QMetaObject::invokeMethod(
        this,
        [this, request, error] {
            try {
                if (OnRequestDone)
                    OnRequestDone(*this, request, error);
            } catch (const std::exception &e) {
                display(std::string("! ") + e.what());
            }
        },
        Qt::QueuedConnection);
}

void TCustomFtpCli::failRequest(int code, const std::string &reply)
{
    failRequestWith(code, reply, code);
}

// The request ends with `code` as its reply; the done event carries `doneError`, which for a
// failed look-up or connect is the socket's own error.
void TCustomFtpCli::failRequestWith(int code, const std::string &reply, int doneError)
{
    m_lastReply = reply;
    m_replyCode = code;
    m_error = code;
    if (ErrorMessage.empty())
        ErrorMessage = reply;
    m_highLevel = false;
    TriggerRequestDone(doneError);
}

// A step that took no command, or whose outcome is decided here, hands over like a reply.
void TCustomFtpCli::stepDone(int error)
{
    if (m_highLevel) {
        m_error = error;
        nextStep();
    } else {
        TriggerRequestDone(error);
    }
}

void TCustomFtpCli::Progress(int64_t count, bool &abort)
{
    if (OnProgress)
        OnProgress(*this, count, abort);
}

// --- Control connection --------------------------------------------------------------------

void TCustomFtpCli::OpenAsync()
{
    checkReady();
    if (m_connected)
        throw FtpException("FTP component already connected");
    m_step = ftpFctOpen;
    m_closingOnPurpose = false;
    m_asciiType = false;
    setState(ftpDnsLookup);
    m_control->DnsLookup(HostName);
}

void TCustomFtpCli::onDnsLookupDone(int error)
{
    if (m_state != ftpDnsLookup)
        return;
    if (error != 0)
        return failRequestWith(500, winsockReply(error), error);
    m_control->SetAddr(m_control->DnsResult());
    m_control->SetProto("tcp");
    m_control->SetPort(Port);
    m_receiveBuffer.clear();
    setState(ftpWaitingBanner);
    try {
        m_control->Connect();
    } catch (const ESocketException &e) {
        failRequest(500, std::string("500 ESocketException: ") + e.what());
    }
}

void TCustomFtpCli::onControlConnected(int error)
{
    if (error == 0) {
        m_connected = true;
        return;
    }
    // The socket closes itself after this event, without a closed event.
    failRequestWith(500, winsockReply(error), error);
}

void TCustomFtpCli::onControlData()
{
    char buffer[kFtpReplyBufferRoom];
    const size_t room = kFtpReplyBufferRoom - m_receiveBuffer.size();
    const int n = m_control->Receive(buffer, room);
    if (n <= 0)
        return;
    m_receiveBuffer.append(buffer, static_cast<size_t>(n));
    while (m_control->State() == wsConnected) {
        std::optional<std::string> line = takeReplyLine(m_receiveBuffer, Options & ftpAcceptLF);
        if (!line)
            break;
        handleReplyLine(*line);
    }
    if (m_receiveBuffer.size() >= kFtpReplyBufferRoom && m_control->State() == wsConnected) {
        // No line end within the whole buffer: the dialogue cannot go on.
        m_lastReply = "500 Reply line longer than " + std::to_string(kFtpReplyBufferRoom) + " bytes";
        m_replyCode = 500;
        m_error = 500;
        if (ErrorMessage.empty())
            ErrorMessage = m_lastReply;
        display("! " + m_lastReply.substr(4));
        closeControl();
    }
}

void TCustomFtpCli::handleReplyLine(const std::string &line)
{
    m_lastReply = line;
    switch (m_state) {
    case ftpWaitingBanner:
        display("< " + line);
        if (!isFinalReplyLine(line))
            return;
        m_replyCode = replyCode(line);
        if (m_replyCode == 220) {
            setState(ftpConnected);
            if (OnSessionConnected)
                OnSessionConnected(*this, 0);
            TriggerRequestDone(0);
        } else {
            m_error = m_replyCode;
            if (ErrorMessage.empty())
                ErrorMessage = line;
            closeControl();
        }
        return;
    case ftpWaitingResponse:
        if (!isFinalReplyLine(line))
            return;
        if (!m_next)
            throw FtpException("Program error: FNext is nil");
        (this->*m_next)(line);
        return;
    default:
        display("< " + line);
        return;
    }
}

void TCustomFtpCli::closeControl()
{
    m_closingOnPurpose = true;
    m_control->Close();
}

void TCustomFtpCli::onControlClosed(int error)
{
    const bool wasConnected = m_connected;
    const bool waiting = m_state == ftpWaitingResponse || m_state == ftpWaitingBanner;
    m_connected = false;
    m_receiveBuffer.clear();
    if (wasConnected) {
        if (m_state != ftpAbort)
            setState(ftpNotConnected);
        if (OnSessionClosed)
            OnSessionClosed(*this, error);
    }
    if (m_requestDone || m_requestType == ftpRqAbort) {
        if (m_state != ftpAbort)
            setState(ftpReady);
        return;
    }
    if (m_state != ftpAbort)
        setState(ftpInternalReady);
    const bool onPurpose = m_closingOnPurpose;
    m_closingOnPurpose = false;
    if (m_transferActive && m_replyComplete && m_error == 0)
        return; // the transfer was answered; its data connection ends the request
    if (m_error == 0 && waiting && !onPurpose) {
        // The server hung up before it answered: that is a failure, never a success.
        m_highLevel = false;
        failRequest(500, error != 0 ? winsockReply(error) : "500 Connection closed by the server");
        return;
    }
    m_highLevel = m_highLevel && m_error == 0;
    TriggerRequestDone(m_error);
}

// --- Data connection ---------------------------------------------------------------------------

void TCustomFtpCli::PortAsync()
{
    checkReady();
    if (!m_connected)
        throw FtpException("FTP component not connected");
    m_transferActive = false;
    if (m_data->State() != wsClosed)
        m_data->Close();
    m_data->SetProto("tcp");
    m_data->SetAddr("0.0.0.0");
    m_data->SetPort("0");
    std::string command = "PASV";
    if (!m_passive) {
        m_data->SetLingerOnOff(wsLingerOn);
        m_data->SetLingerTimeout(10);
        m_data->Listen();
        std::string listenAddr;
        uint16_t dataPort = 0;
        m_data->GetSockName(listenAddr, dataPort);
        std::string localAddr;
        uint16_t localPort = 0;
        m_control->GetSockName(localAddr, localPort);
        std::replace(localAddr.begin(), localAddr.end(), '.', ',');
        command = "PORT " + localAddr + "," + std::to_string(dataPort >> 8) + ","
                  + std::to_string(dataPort & 0xFF);
    }
    m_byteCount = 0;
    m_pasvReply.clear();
    ExecAsync(ftpPortAsync, ftpFctPort, command, {200, 227});
}

void TCustomFtpCli::RestAsync()
{
    if (!(Options & ftpNoAutoResumeAt)) {
        struct stat info {};
        m_resumeOffset = ::stat(m_localFileName.c_str(), &info) == 0 ? info.st_size : -1;
    }
    if (m_resumeOffset <= 0) {
        m_resumeOffset = 0;
        m_step = ftpFctRest;
        return stepDone(0);
    }
    ExecAsync(ftpRestAsync, ftpFctRest, "REST " + std::to_string(m_resumeOffset), {}, &TCustomFtpCli::restDone);
}

// A refused REST is no failure: the retrieval then starts over from the first byte.
void TCustomFtpCli::restDone()
{
    if (m_replyCode != 350) {
        m_resumeOffset = 0;
        if (m_error != 0 && ErrorMessage == m_lastReply)
            ErrorMessage.clear();
    }
    stepDone(0);
}

// Whether the local file can take the download, without touching it: the user's file stays as
// it is until the server sends data.
bool TCustomFtpCli::localFileWritable() const
{
    if (::access(m_localFileName.c_str(), F_OK) == 0)
        return ::access(m_localFileName.c_str(), W_OK) == 0;
    const size_t slash = m_localFileName.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
            : slash == 0                                  ? "/"
                                                          : m_localFileName.substr(0, slash);
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool TCustomFtpCli::openLocalFile()
{
    closeLocalFile();
    m_localFilePending = false;
    if (m_resumeOffset > 0) {
        m_localFile = ::open(m_localFileName.c_str(), O_WRONLY | O_CLOEXEC);
        if (m_localFile >= 0 && ::lseek(m_localFile, m_resumeOffset, SEEK_SET) < 0)
            closeLocalFile();
    } else {
        m_localFile = ::open(m_localFileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    return m_localFile >= 0;
}

// Keeps what was received (a later resume continues after it); errors here are not news,
// since every path that comes here without flushing first has already failed.
void TCustomFtpCli::closeLocalFile()
{
    for (size_t done = 0; m_localFile >= 0 && done < m_writeBuffer.size();) {
        const ssize_t written = ::write(m_localFile, m_writeBuffer.data() + done, m_writeBuffer.size() - done);
        if (written <= 0 && errno != EINTR)
            break;
        done += written > 0 ? static_cast<size_t>(written) : 0;
    }
    m_writeBuffer.clear();
    if (m_localFile >= 0)
        ::close(m_localFile);
    m_localFile = -1;
}

void TCustomFtpCli::dataStep(TFtpFct step)
{
    if (!m_connected)
        throw FtpException(m_dataCommand + ": not connected");
    m_dataCommand = step == ftpFctGet ? "RETR" : "LIST";
    if (m_localFileName.empty() && !DisplayFileFlag)
        throw FtpException("LocalFileName empty");
    m_step = step;
    if (!DisplayFileFlag && !localFileWritable())
        return failRequest(550, "Unable to open local file " + m_localFileName);
    closeLocalFile();
    m_localFilePending = !DisplayFileFlag;
    m_announcedSize = -1;
    m_transferActive = true;
    m_replyComplete = false;
    m_dataComplete = false;
    m_dataError = 0;
    m_pendingLine.clear();
    m_lastWasCr = false;
    m_transferStart = std::chrono::steady_clock::now();
    if (m_passive) {
        const std::optional<uint16_t> port = parsePasvPort(m_pasvReply);
        if (!port)
            return failRequest(550, "550 No data port in the reply \"" + m_pasvReply + "\"");
        // The address of the reply is not used: the data comes from the control peer.
        m_data->SetAddr(m_control->GetPeerAddr());
        m_data->SetPort(std::to_string(*port));
        m_data->SetProto("tcp");
        m_data->SetLingerOnOff(wsLingerOff);
        try {
            m_data->Connect();
        } catch (const ESocketException &e) {
            return failRequest(550, std::string("550 ESocketException: ") + e.what());
        }
    }
    m_okCodes.clear();
    m_done = nullptr;
    m_error = 0;
    m_next = &TCustomFtpCli::dataReplyFirst;
    setState(ftpWaitingResponse);
    SendCommand(HostFileName.empty() ? m_dataCommand : m_dataCommand + " " + HostFileName);
}

void TCustomFtpCli::dataReplyFirst(const std::string &line)
{
    display("< " + line);
    m_replyCode = replyCode(line);
    if (m_dataCommand == "RETR")
        m_announcedSize = announcedSize(line).value_or(-1);
    if (m_replyCode != 150 && m_replyCode != 125) {
        m_error = m_replyCode;
        if (ErrorMessage.empty())
            ErrorMessage = line;
        m_transferActive = false;
        if (m_data->State() != wsClosed)
            m_data->Close();
        closeLocalFile();
        m_resumeOffset = 0;
        m_next = &TCustomFtpCli::traceOnly;
        return stepDone(m_error);
    }
    m_next = &TCustomFtpCli::dataReplyFinal;
    if (m_localFilePending && !m_writeBuffer.empty()) {
        std::string early;
        early.swap(m_writeBuffer);
        deliverData(early.data(), early.size());
    }
}

void TCustomFtpCli::dataReplyFinal(const std::string &line)
{
    display("< " + line);
    m_replyCode = replyCode(line);
    if (m_replyCode != 125 && m_replyCode != 226 && m_replyCode != 250) {
        display("! RETR/LIST/NLST Failed");
        m_error = m_replyCode;
        if (ErrorMessage.empty())
            ErrorMessage = line;
    }
    m_replyComplete = true;
    m_next = &TCustomFtpCli::traceOnly;
    finishTransferIfDone();
}

void TCustomFtpCli::onDataSessionAvailable()
{
    const int handle = m_data->Accept();
    if (handle < 0)
        return;
    // Only the server may deliver the data; anyone else knocking is turned away.
    sockaddr_in peer {};
    socklen_t length = sizeof peer;
    char text[INET_ADDRSTRLEN] = {};
    if (getpeername(handle, reinterpret_cast<sockaddr *>(&peer), &length) != 0
        || !inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) || text != m_control->GetPeerAddr()) {
        display(std::string("! Data connection from ") + text + " refused");
        ::close(handle);
        return;
    }
    m_data->Dup(handle);
    onDataConnected(0);
}

void TCustomFtpCli::onDataConnected(int error)
{
    if (!m_transferActive)
        return;
    if (error != 0) {
        m_transferActive = false;
        return failRequest(550, "Unable to establish data connection, error #" + std::to_string(error));
    }
    m_transferStart = std::chrono::steady_clock::now();
}

void TCustomFtpCli::onDataAvailable()
{
    char buffer[kDataChunk];
    if (!m_transferActive) {
        m_data->Receive(buffer, sizeof buffer);
        return;
    }
    bool abort = false;
    Progress(m_byteCount + m_resumeOffset, abort);
    if (!m_transferActive)
        return;
    if (abort) {
        display("! Abort requested");
        // The transfer fails even when the server has already sent its last byte.
        m_error = 426;
        if (ErrorMessage.empty())
            ErrorMessage = "426 Operation aborted.";
        m_data->Close();
        return;
    }
    const int n = m_data->Receive(buffer, sizeof buffer);
    if (n > 0) {
        m_byteCount += n;
        deliverData(buffer, static_cast<size_t>(n));
    } else if (n < 0 && m_data->LastError() != 10035 && m_data->State() == wsConnected) {
        display("! Data: Receive error " + std::to_string(m_data->LastError()));
        m_dataError = m_data->LastError();
        m_data->Shutdown(2);
    }
}

void TCustomFtpCli::deliverData(const char *data, size_t size)
{
    if (DisplayFileFlag) {
        if (!OnDisplayFile)
            return;
        if (m_displayFileMode == ftpBinary)
            return OnDisplayFile(*this, std::string(data, size));
        for (size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n' && m_lastWasCr) {
                m_lastWasCr = false;
                continue;
            }
            m_lastWasCr = c == '\r';
            if (c == '\r' || c == '\n') {
                const std::string line = std::move(m_pendingLine);
                m_pendingLine.clear();
                OnDisplayFile(*this, line);
            } else {
                m_pendingLine += c;
            }
        }
        return;
    }
    if (m_localFilePending && m_next == &TCustomFtpCli::dataReplyFirst) {
        // The data may overtake the server's answer to RETR; a refusal must still find the local
        // file as it was, so the data waits here until the answer is in.
        m_writeBuffer.append(data, size);
        if (m_writeBuffer.size() > kEarlyDataLimit)
            localFileFailed("Data arrived without an answer to " + m_dataCommand);
        return;
    }
    if (m_localFilePending && !openLocalFile()) {
        localFileFailed(
                "Unable to open local file " + m_localFileName + ": " + std::strerror(errno));
        return;
    }
    if (m_localFile < 0)
        return;
    // Written in blocks: one system call per 64 KB rather than per chunk.
    m_writeBuffer.append(data, size);
    if (m_writeBuffer.size() >= kWriteBlock)
        flushLocalFile();
}

bool TCustomFtpCli::flushLocalFile()
{
    size_t done = 0;
    while (done < m_writeBuffer.size() && m_localFile >= 0) {
        const ssize_t written = ::write(m_localFile, m_writeBuffer.data() + done, m_writeBuffer.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            display("! Error writing local file");
            localFileFailed(
                    "Error writing local file " + m_localFileName + ": " + std::strerror(errno));
            return false;
        }
        done += static_cast<size_t>(written);
    }
    m_writeBuffer.clear();
    return true;
}

// A file that could not be written is no successful download: the data connection is dropped
// and the request fails once the server has answered.
void TCustomFtpCli::localFileFailed(const std::string &text)
{
    m_error = 550;
    ErrorMessage = "550 " + text;
    m_writeBuffer.clear();
    closeLocalFile();
    m_localFilePending = false;
    if (m_data->State() != wsClosed)
        m_data->Shutdown(2);
}

void TCustomFtpCli::onDataClosed(int error)
{
    if (!m_transferActive || m_dataComplete)
        return;
    m_dataComplete = true;
    if (error != 0 && m_dataError == 0)
        m_dataError = error;
    if (DisplayFileFlag && m_displayFileMode == ftpLineByLine && !m_pendingLine.empty() && OnDisplayFile) {
        const std::string line = std::move(m_pendingLine);
        m_pendingLine.clear();
        OnDisplayFile(*this, line);
    }
    if (m_localFile >= 0 && flushLocalFile())
        closeLocalFile();
    finishTransferIfDone();
}

void TCustomFtpCli::finishTransferIfDone()
{
    if (!m_transferActive || !m_replyComplete || !m_dataComplete)
        return;
    m_transferActive = false;
    // Data that waited for the answer to RETR may still be unwritten.
    if (m_localFile >= 0)
        flushLocalFile();
    closeLocalFile();
    TransferStats();
    checkAnnouncedSize();
    // Nothing arrived, and rightly so: the download is an empty file (or, on a resume, the file
    // was already whole).
    if (m_localFilePending && m_error == 0 && m_dataError == 0 && openLocalFile())
        closeLocalFile();
    else if (m_localFilePending && m_error == 0 && m_dataError == 0)
        localFileFailed(
                "Unable to open local file " + m_localFileName + ": " + std::strerror(errno));
    m_localFilePending = false;
    m_resumeOffset = 0;
    const int error = m_error != 0 ? m_error : m_dataError;
    if (m_highLevel && error != 0)
        return stepDone(error);
    TriggerRequestDone(error);
}

// A file that shrank or grew while it was sent, or a resume the server did not honour, gives a
// byte count other than the one announced: that download is not whole.
void TCustomFtpCli::checkAnnouncedSize()
{
    if (m_announcedSize < 0 || m_asciiType || m_error != 0 || m_dataError != 0)
        return;
    const int64_t total = m_byteCount + m_resumeOffset;
    if (total == m_announcedSize)
        return;
    std::string text = "426 The server announced " + std::to_string(m_announcedSize)
            + " bytes, but " + std::to_string(m_byteCount) + " arrived";
    if (m_resumeOffset > 0)
        text += " after the " + std::to_string(m_resumeOffset) + " kept";
    display("! " + text.substr(4));
    m_error = 426;
    m_replyCode = 426;
    m_lastReply = text;
    if (ErrorMessage.empty())
        ErrorMessage = text;
}

void TCustomFtpCli::TransferStats()
{
    const auto elapsed = std::chrono::steady_clock::now() - m_transferStart;
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    display("! " + formatTransferStats(m_byteCount, ms));
}

// --- Synchronous calls -------------------------------------------------------------------------

TFtpClient::TFtpClient(QObject *parent)
    : TCustomFtpCli(parent)
{
}

void TFtpClient::Progress(int64_t count, bool &abort)
{
    m_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Timeout);
    TCustomFtpCli::Progress(count, abort);
}

bool TFtpClient::Synchronize(void (TCustomFtpCli::*call)())
{
    try {
        (this->*call)();
    } catch (const std::exception &) {
        return false;
    }
    return WaitUntilReady();
}

bool TFtpClient::WaitUntilReady()
{
    m_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Timeout);
    // Wakes the wait below now and then, so the deadline is looked at even when all is quiet.
    QTimer wake;
    wake.start(20);
    while (State() != ftpReady) {
        if (QCoreApplication::closingDown())
            return false;
        if (std::chrono::steady_clock::now() >= m_deadline) {
            timedOut();
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return LastRequestError() == 0;
}

} // namespace veltrano
