#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ftp/ftpcli.h"
#include "net/eventloop.h"
#include "support/pyftpd.h"

namespace veltrano::test {

// A client pointed at 127.0.0.1:port that records its trace and completions.
struct FtpHarness
{
    TFtpClient client;
    std::vector<std::string> trace;
    std::vector<std::pair<TFtpRequest, int>> done;

    explicit FtpHarness(uint16_t port)
    {
        ensureApplication();
        client.HostName = "127.0.0.1";
        client.Port = std::to_string(port);
        client.UserName = "bob";
        client.PassWord = "secret";
        client.Options = ftpAcceptLF;
        client.SetPassive(true);
        client.OnDisplay = [this](TCustomFtpCli &, const std::string &text) { trace.push_back(text); };
        client.OnRequestDone = [this](TCustomFtpCli &, TFtpRequest request, int error) {
            done.emplace_back(request, error);
        };
    }

    // Waits for the next completion; its error, or -1 when none came in time.
    int waitDone(int milliseconds = 10000)
    {
        const size_t before = m_seen;
        if (!runUntil([&] { return done.size() > before; }, milliseconds))
            return -1;
        return done[m_seen++].second;
    }

    bool traced(const std::string &text) const
    {
        for (const std::string &line : trace)
            if (line == text)
                return true;
        return false;
    }

private:
    size_t m_seen = 0;
};

} // namespace veltrano::test
