#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/ftpcommand.h"
#include "server/serversearch.h"
#include "server/sharemap.h"
#include "server/userdb.h"
#include "util/filehandle.h"

namespace veltrano {

// One client's FTP dialogue, without sockets: it takes command lines and gives the replies,
// and tells its owner (the network shell) when something needs the network or time: a
// password to check, a passive port to open, a transfer, a search, an abort or the end.
// Everything it serves is read-only and confined to the shares (ShareMap).
//
// Not thread-safe: the owner's thread drives it.
class FtpSession
{
public:
    struct Limits
    {
        int maxLoginFailures = 3; // then the connection is closed
    };

    enum class Action {
        None,
        CheckPassword, // run users().check(pendingUser(), takePassword()), then passwordChecked()
        OpenPassive, // listen for a data connection, then passiveOpened() or passiveFailed()
        Transfer, // takeTransfer(): send it over the data connection, then transferDone()
        Search, // run takeSearch(), then searchDone() with its stream
        Abort, // stop the running transfer or search; the replies are given
        Close // send the reply, then close the connection
    };
    struct Step
    {
        std::string reply; // CR LF included; may be empty
        Action action = Action::None;
    };

    // What goes over the data connection: an open file from an offset, or bytes.
    struct Transfer
    {
        FileHandle file; // valid for a file
        uint64_t offset = 0;
        uint64_t size = 0; // of the file
        std::string bytes; // a listing or the FIND stream
        bool passive = true;
        HostPort active; // PORT's target when not passive
    };

    FtpSession(const ShareMap &shares, const UserDb &users, uint32_t peerAddress, Limits limits);

    Step handle(std::string_view line);

    const UserDb &users() const { return m_users; }
    const std::string &pendingUser() const { return m_user; }
    std::string takePassword() { return std::exchange(m_password, {}); }
    Step passwordChecked(bool ok);

    bool epsvAsked() const { return m_epsv; }
    std::string passiveOpened(HostPort where);
    std::string passiveFailed();

    Transfer takeTransfer() { return std::move(m_transfer); }
    std::string transferDone(bool ok, std::string_view why);

    const RemoteSearch &search() const { return m_search; }
    std::string searchDone(std::string stream);

    bool loggedIn() const { return m_loggedIn; }
    bool busy() const { return m_busy != Busy::No; }
    const std::vector<std::string> &cwd() const { return m_cwd; }

private:
    enum class Busy {
        No,
        Transfer,
        Search
    };
    enum class Data {
        None,
        Passive,
        Active
    };

    Step dispatch(const FtpCommand &command);
    Step user(const std::string &argument);
    Step pass(const std::string &argument);
    Step cwd(const std::string &argument);
    Step list(std::string argument, bool namesOnly);
    Step retr(const std::string &argument);
    Step size(const std::string &argument, bool mdtm);
    Step port(const std::string &argument, bool extended);
    Step openFind(const std::string &argument);
    Step checkExist(const std::string &argument);
    Step abort();
    Step startTransfer(Transfer transfer, std::string_view what);
    bool isFind(std::string_view argument) const;
    std::string wireText(std::string_view utf8) const;

    const ShareMap &m_shares;
    const UserDb &m_users;
    uint32_t m_peer;
    Limits m_limits;

    std::string m_user;
    std::string m_password;
    bool m_userGiven = false;
    bool m_loggedIn = false;
    int m_failures = 0;
    std::vector<std::string> m_cwd;
    uint64_t m_rest = 0;
    Data m_data = Data::None;
    bool m_epsv = false;
    HostPort m_active;
    Busy m_busy = Busy::No;
    Transfer m_transfer;
    RemoteSearch m_search;
    std::string m_find; // the last search's stream
    bool m_haveFind = false;
};

} // namespace veltrano
