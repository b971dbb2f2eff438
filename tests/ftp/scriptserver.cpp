#include "scriptserver.h"

#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veltrano::test {

namespace {

constexpr int kWaitMs = 5000;

int listenLoopback(uint16_t &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, 5) != 0 || getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("script server: cannot listen");
    port = ntohs(address.sin_port);
    return fd;
}

int acceptWithin(int listener)
{
    pollfd waiting {listener, POLLIN, 0};
    if (::poll(&waiting, 1, kWaitMs) != 1)
        throw std::runtime_error("script server: nobody connected");
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("script server: accept failed");
    timeval timeout {kWaitMs / 1000, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return fd;
}

void sendAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            throw std::runtime_error("script server: send failed");
        done += static_cast<size_t>(n);
    }
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

void ScriptSession::send(const std::string &bytes)
{
    sendAll(m_control, bytes);
}

std::string ScriptSession::command()
{
    for (;;) {
        const size_t end = m_pending.find("\r\n");
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 2);
            std::lock_guard lock(*m_mutex);
            m_commands->push_back(line);
            return line;
        }
        char buffer[1024];
        const ssize_t n = ::recv(m_control, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        m_pending.append(buffer, static_cast<size_t>(n));
    }
}

uint16_t ScriptSession::openPassive()
{
    closeFd(m_passive);
    uint16_t port = 0;
    m_passive = listenLoopback(port);
    return port;
}

void ScriptSession::acceptData()
{
    m_data = acceptWithin(m_passive);
    closeFd(m_passive);
}

void ScriptSession::connectData(const std::string &portCommand)
{
    unsigned h[4], p[2];
    if (std::sscanf(portCommand.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]) != 6)
        throw std::runtime_error("script server: bad PORT command");
    m_data = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(p[0] * 256 + p[1]));
    if (::connect(m_data, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        throw std::runtime_error("script server: data connect failed");
}

void ScriptSession::sendData(const std::string &bytes)
{
    sendAll(m_data, bytes);
}

void ScriptSession::closeData()
{
    closeFd(m_data);
}

void ScriptSession::resetData()
{
    const linger reset{1, 0};
    if (m_data >= 0)
        setsockopt(m_data, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    closeFd(m_data);
}

void ScriptSession::closeControl()
{
    closeFd(m_control);
}

ScriptServer::ScriptServer(Script script)
{
    m_listener = listenLoopback(m_port);
    m_thread = std::thread([this, script = std::move(script)] {
        ScriptSession session;
        session.m_mutex = &m_mutex;
        session.m_commands = &m_commands;
        try {
            session.m_control = acceptWithin(m_listener);
            script(session);
            // Keep the connection until the client has gone, recording what it still says.
            while (session.m_control >= 0 && !session.command().empty()) {
            }
        } catch (const std::exception &) {
        }
        closeFd(session.m_data);
        closeFd(session.m_passive);
        closeFd(session.m_control);
        m_finished = true;
    });
}

ScriptServer::~ScriptServer()
{
    m_thread.join();
    closeFd(m_listener);
}

std::string pasvReply(uint16_t port, const std::string &address)
{
    return "227 Entering Passive Mode (" + address + "," + std::to_string(port >> 8) + ","
            + std::to_string(port & 0xFF) + ")\r\n";
}

void logOn(ScriptSession &s)
{
    s.send("220 Script server ready\r\n");
    s.command();
    s.send("230 Logged in\r\n");
}

std::vector<std::string> ScriptServer::commands() const
{
    std::lock_guard lock(m_mutex);
    return m_commands;
}

} // namespace veltrano::test
