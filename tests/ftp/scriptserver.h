#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veltrano::test {

// One side of a scripted FTP dialogue, run on the server's own thread with blocking sockets.
// Every wait is bounded (5 s), so a client that stalls ends the script instead of the suite.
class ScriptSession
{
public:
    // Sends raw bytes on the control connection (reply lines carry their own CR LF).
    void send(const std::string &bytes);
    // Reads one command line (without CR LF) and records it; empty when none came in time.
    std::string command();
    // A data port to be named in a 227 reply, listening on 127.0.0.1.
    uint16_t openPassive();
    void acceptData();
    // Active mode: connects to the port of a "PORT h1,h2,h3,h4,p1,p2" command.
    void connectData(const std::string &portCommand);
    void sendData(const std::string &bytes);
    void closeData();
    // Drops the data connection with a reset, as a failing server does.
    void resetData();
    void closeControl();

private:
    friend class ScriptServer;
    int m_control = -1;
    int m_passive = -1;
    int m_data = -1;
    std::string m_pending;
    std::mutex *m_mutex = nullptr;
    std::vector<std::string> *m_commands = nullptr;
};

// A one-connection FTP server of the tests' own on 127.0.0.1 that plays a script and keeps the
// transcript of the commands it received.
class ScriptServer
{
public:
    using Script = std::function<void(ScriptSession &session)>;

    explicit ScriptServer(Script script);
    ~ScriptServer();
    ScriptServer(const ScriptServer &) = delete;
    ScriptServer &operator=(const ScriptServer &) = delete;

    uint16_t port() const { return m_port; }
    std::vector<std::string> commands() const;
    bool finished() const { return m_finished; }

private:
    int m_listener = -1;
    uint16_t m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_commands;
    std::atomic<bool> m_finished {false};
    std::thread m_thread;
};

// "227 Entering Passive Mode (a,b,c,d,p1,p2)" with CR LF; the address is one the client must
// not use.
std::string pasvReply(uint16_t port, const std::string &address = "10,0,0,5");

// Banner and a USER that needs no password.
void logOn(ScriptSession &s);

} // namespace veltrano::test
