#include "server/ftpsession.h"

#include <algorithm>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "server/dirlisting.h"
#include "util/error.h"

namespace veltrano {
namespace {

constexpr std::string_view kFindName = "FIND";

FtpSession::Step reply(
        int code, std::string_view text, FtpSession::Action action = FtpSession::Action::None)
{
    return {replyText(code, text), action};
}

bool writesSomething(std::string_view verb)
{
    static constexpr std::string_view kVerbs[] = {"STOR", "STOU", "APPE", "DELE", "MKD", "XMKD",
            "RMD", "XRMD", "RNFR", "RNTO", "SITE", "ALLO"};
    return std::find(std::begin(kVerbs), std::end(kVerbs), verb) != std::end(kVerbs);
}

// LIST's argument without the ls-style options some clients put first ("-la").
std::string withoutListOptions(std::string argument)
{
    while (argument.size() >= 2 && argument[0] == '-' && argument[1] != ' ') {
        const size_t blank = argument.find(' ');
        argument = blank == std::string::npos ? std::string() : argument.substr(blank + 1);
    }
    return argument;
}

} // namespace

FtpSession::FtpSession(
        const ShareMap &shares, const UserDb &users, uint32_t peerAddress, Limits limits)
    : m_shares(shares)
    , m_users(users)
    , m_peer(peerAddress)
    , m_limits(limits)
{ }

std::string FtpSession::wireText(std::string_view utf8) const
{
    return m_shares.wire().fromUtf8Lossy(utf8);
}

FtpSession::Step FtpSession::handle(std::string_view line)
{
    if (line.size() > kMaxCommandLine)
        return reply(500, "Command line too long");
    const std::optional<FtpCommand> command = parseCommandLine(line);
    if (!command)
        return reply(500, "Syntax error, command unrecognized");
    try {
        return dispatch(*command);
    } catch (const std::exception &e) {
        return reply(451, wireText(fmt::format("Local error: {}", e.what())));
    }
}

FtpSession::Step FtpSession::dispatch(const FtpCommand &c)
{
    const std::string &v = c.verb;
    if (v == "QUIT")
        return reply(221, "Goodbye", Action::Close);
    if (v == "ABOR")
        return abort();
    if (v == "NOOP")
        return reply(200, "NOOP ok");
    if (v == "SYST")
        return reply(215, "UNIX Type: L8");
    if (v == "FEAT")
        return {"211-Features:\r\n EPSV\r\n MDTM\r\n PASV\r\n REST STREAM\r\n SIZE\r\n"
                + std::string(m_shares.wire().isUtf8() ? " UTF8\r\n" : "") + "211 End\r\n"};
    if (v == "USER")
        return user(c.argument);
    if (v == "PASS")
        return pass(c.argument);
    if (!m_loggedIn)
        return reply(530, "Please log in with USER and PASS");
    if (m_busy != Busy::No)
        return reply(450, "A transfer or search is still running");
    if (v == "PWD" || v == "XPWD")
        return reply(257, "\"" + ShareMap::display(m_cwd) + "\" is the current directory");
    if (v == "CWD" || v == "XCWD")
        return cwd(c.argument);
    if (v == "CDUP" || v == "XCUP")
        return cwd("..");
    if (v == "TYPE") {
        std::string t = c.argument;
        std::transform(t.begin(), t.end(), t.begin(), [](unsigned char x) {
            return char(std::toupper(x));
        });
        if (t == "I" || t == "A" || t == "A N" || t == "L 8")
            return reply(200, "Type set to " + t);
        return reply(504, "Type not supported");
    }
    if (v == "MODE")
        return c.argument == "S" || c.argument == "s" ? reply(200, "Mode S")
                                                      : reply(504, "Only stream mode");
    if (v == "STRU")
        return c.argument == "F" || c.argument == "f" ? reply(200, "Structure F")
                                                      : reply(504, "Only file structure");
    if (v == "OPTS") {
        std::string o = c.argument;
        std::transform(o.begin(), o.end(), o.begin(), [](unsigned char x) {
            return char(std::toupper(x));
        });
        if (o == "UTF8 ON" && m_shares.wire().isUtf8())
            return reply(200, "UTF8 is on");
        return reply(501, "Option not supported");
    }
    if (v == "PASV" || v == "EPSV") {
        if (v == "EPSV" && !c.argument.empty() && c.argument != "1" && c.argument != "ALL")
            return reply(522, "Only IPv4 (1)");
        m_epsv = v == "EPSV";
        m_data = Data::None;
        return {{}, Action::OpenPassive};
    }
    if (v == "PORT" || v == "EPRT")
        return port(c.argument, v == "EPRT");
    if (v == "REST") {
        const auto offset = parseRestArgument(c.argument);
        if (!offset)
            return reply(501, "REST needs a byte offset");
        m_rest = *offset;
        return reply(350, fmt::format("Restarting at {}", m_rest));
    }
    if (v == "LIST")
        return list(c.argument, false);
    if (v == "NLST")
        return list(c.argument, true);
    if (v == "RETR")
        return retr(c.argument);
    if (v == "SIZE")
        return size(c.argument, false);
    if (v == "MDTM")
        return size(c.argument, true);
    if (v == "OPENFIND")
        return openFind(c.argument);
    if (v == "CHECKEXIST")
        return checkExist(c.argument);
    if (writesSomething(v))
        return reply(550, "This server is read-only");
    return reply(502, "Command not implemented");
}

FtpSession::Step FtpSession::user(const std::string &argument)
{
    if (argument.empty())
        return reply(501, "USER needs a name");
    m_user = argument;
    m_userGiven = true;
    m_loggedIn = false;
    return reply(331, "Password required");
}

FtpSession::Step FtpSession::pass(const std::string &argument)
{
    if (!m_userGiven)
        return reply(503, "Send USER first");
    if (m_loggedIn)
        return reply(230, "Already logged in");
    m_password = argument;
    return {{}, Action::CheckPassword};
}

FtpSession::Step FtpSession::passwordChecked(bool ok)
{
    m_userGiven = ok;
    if (ok) {
        m_loggedIn = true;
        m_cwd.clear();
        return reply(230, "Logged in");
    }
    if (++m_failures >= m_limits.maxLoginFailures)
        return reply(530, "Login incorrect; too many attempts", Action::Close);
    return reply(530, "Login incorrect");
}

std::string FtpSession::passiveOpened(HostPort where)
{
    m_data = Data::Passive;
    return m_epsv ? replyText(229, epsvReply(where.port)) : replyText(227, pasvReply(where));
}

std::string FtpSession::passiveFailed()
{
    m_data = Data::None;
    return replyText(425, "Cannot open a data port");
}

FtpSession::Step FtpSession::port(const std::string &argument, bool extended)
{
    const auto target = extended ? parseEprtArgument(argument) : parsePortArgument(argument);
    if (!target)
        return reply(501, "Bad address");
    // Data goes back to the client's own address only: never to a third host on its behalf.
    if (target->address != m_peer || target->port < 1024)
        return reply(504, "Data connections go to the client's own address and a port above 1023");
    m_active = *target;
    m_data = Data::Active;
    return reply(200, extended ? "EPRT command successful" : "PORT command successful");
}

FtpSession::Step FtpSession::cwd(const std::string &argument)
{
    ShareMap::Location at;
    if (m_shares.resolve(m_cwd, argument, at) != ShareMap::Fault::None)
        return reply(550, "No such directory");
    if (at.level == ShareMap::Level::Share) {
        const int fd = m_shares.openBeneath(at, O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return reply(550, "No such directory");
        ::close(fd);
    }
    m_cwd = at.parts;
    return reply(250, "\"" + ShareMap::display(m_cwd) + "\" is the current directory");
}

FtpSession::Step FtpSession::startTransfer(Transfer transfer, std::string_view what)
{
    if (m_data == Data::None)
        return reply(425, "Use PORT or PASV first");
    transfer.passive = m_data == Data::Passive;
    transfer.active = m_active;
    m_data = Data::None;
    m_rest = 0;
    m_transfer = std::move(transfer);
    m_busy = Busy::Transfer;
    return reply(150, what, Action::Transfer);
}

std::string FtpSession::transferDone(bool ok, std::string_view why)
{
    m_busy = Busy::No;
    m_transfer = Transfer{};
    return ok ? replyText(226, "Transfer complete") : replyText(426, why);
}

FtpSession::Step FtpSession::list(std::string argument, bool namesOnly)
{
    argument = withoutListOptions(std::move(argument));
    ShareMap::Location at;
    if (m_shares.resolve(m_cwd, argument, at) != ShareMap::Fault::None)
        return reply(550, "No such file or directory");
    bool ok = false;
    Transfer t;
    t.bytes = listLocation(m_shares, at, namesOnly, ok);
    if (!ok)
        return reply(550, "No such file or directory");
    return startTransfer(std::move(t), "Here comes the listing");
}

bool FtpSession::isFind(std::string_view argument) const
{
    return m_haveFind && argument == kFindName;
}

FtpSession::Step FtpSession::retr(const std::string &argument)
{
    if (isFind(argument)) {
        Transfer t;
        t.bytes = m_rest < m_find.size() ? m_find.substr(size_t(m_rest)) : std::string();
        return startTransfer(std::move(t), "Here come the search results");
    }
    ShareMap::Location at;
    if (m_shares.resolve(m_cwd, argument, at) != ShareMap::Fault::None
            || at.level != ShareMap::Level::Share)
        return reply(550, "No such file");
    const int fd = m_shares.openBeneath(at, O_RDONLY);
    if (fd < 0)
        return reply(550, errno == EACCES ? "Permission denied" : "No such file");
    Transfer t;
    t.file = FileHandle(fd);
    struct stat st
    { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return reply(550, "Not a plain file");
    t.size = uint64_t(st.st_size);
    t.offset = m_rest;
    if (t.offset > t.size)
        return reply(554, "Restart offset beyond the end of the file");
    // The whole file's size, also on a resume: a client that kept the first bytes checks that
    // the size less what it kept arrived, and so notices a file that changed in between.
    const uint64_t size = t.size;
    return startTransfer(std::move(t), fmt::format("Opening data connection ({} bytes)", size));
}

FtpSession::Step FtpSession::size(const std::string &argument, bool mdtm)
{
    if (!mdtm && isFind(argument))
        return reply(213, std::to_string(m_find.size()));
    ShareMap::Location at;
    if (m_shares.resolve(m_cwd, argument, at) != ShareMap::Fault::None
            || at.level != ShareMap::Level::Share)
        return reply(550, "No such file");
    const int fd = m_shares.openBeneath(at, O_PATH);
    struct stat st
    { };
    const bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (fd >= 0)
        ::close(fd);
    if (!ok)
        return reply(550, "No such file");
    return reply(213, mdtm ? mdtmText(st.st_mtime) : std::to_string(st.st_size));
}

FtpSession::Step FtpSession::openFind(const std::string &argument)
{
    try {
        m_search = parseSearchArgument(m_shares.wire().toUtf8(argument));
    } catch (const Error &e) {
        return reply(501, wireText(e.what()));
    }
    m_busy = Busy::Search;
    return {{}, Action::Search};
}

std::string FtpSession::searchDone(std::string stream)
{
    m_busy = Busy::No;
    m_find = std::move(stream);
    m_haveFind = true;
    return replyText(700, "Search done; retrieve FIND");
}

FtpSession::Step FtpSession::checkExist(const std::string &argument)
{
    const ExistCode code = veltrano::checkExist(m_shares, m_cwd, argument);
    switch (code) {
    case ExistCode::Readable:
        return reply(800, "Ready");
    case ExistCode::Missing:
        return reply(810, "No such file or folder");
    case ExistCode::Outside:
        return reply(820, "Not inside a share");
    case ExistCode::Denied:
        return reply(830, "Permission denied");
    case ExistCode::Failed:
        break;
    }
    return reply(840, "Cannot check that path");
}

FtpSession::Step FtpSession::abort()
{
    if (m_busy == Busy::No)
        return reply(225, "No transfer to abort");
    const bool search = m_busy == Busy::Search;
    m_busy = Busy::No;
    m_transfer = Transfer{};
    if (search)
        return reply(226, "Search aborted", Action::Abort);
    return {replyText(426, "Transfer aborted") + replyText(226, "Abort successful"), Action::Abort};
}

} // namespace veltrano
