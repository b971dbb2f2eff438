#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cache/collector.h"
#include "smb/smbsource.h"

struct _SMBCCTX;

namespace veltrano {

// One logon to SMB servers through libsmbclient: a context of its own with the credentials,
// the port and the time-out. The library keeps process-wide state that two threads cannot use
// at once: readers that work in parallel each run in a process of their own.
class SmbClient
{
public:
    // port 0: the usual ports (445, then 139). timeoutMs bounds every answer the servers owe.
    // minProtocol: the oldest dialect to speak (NT1 for the old SMB1 servers); empty: the
    // library's default. Throws Error for a dialect the library does not know.
    SmbClient(const SmbCredentials &credentials, uint16_t port, int timeoutMs,
            const std::string &minProtocol = {});
    ~SmbClient();
    SmbClient(const SmbClient &) = delete;
    SmbClient &operator=(const SmbClient &) = delete;

    // The disk shares of a computer by name; names ending in '$' only when `hidden`. Throws
    // Error with the server's refusal or the system's text.
    std::vector<std::string> listShares(const std::string &computer, bool hidden);

    // The folders of one share, for the collector's walk.
    std::unique_ptr<FolderSource> share(const std::string &computer, const std::string &share);

    // smb://computer/share/path with every part escaped.
    static std::string url(
            const std::string &computer, const std::string &share, const std::string &relPath);

    _SMBCCTX *context() const { return m_context; }
    const SmbCredentials &credentials() const { return m_credentials; }

private:
    SmbCredentials m_credentials;
    _SMBCCTX *m_context = nullptr;
};

// The text of an errno that libsmbclient left, worded for a share (a refused logon reads as
// such rather than as "Permission denied").
std::string smbErrorText(int error);

// True for errors after which nothing more can be read from the server.
bool isConnectionLost(int error);

} // namespace veltrano
