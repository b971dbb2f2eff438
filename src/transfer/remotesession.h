#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "transfer/transferengine.h"

namespace veltrano {

// The log-on data of a search server, as the wire carries it (code-page bytes).
struct RemoteLogon
{
    std::string host, port, user, password;
};

// From an ftp:// address. A password that the address leaves out is taken from `envPassword`
// (the caller reads $VELTRANO_FTP_PASSWORD, so that a password need not show in the process
// list). Throws Error for a bad address or a text the code page cannot write.
RemoteLogon remoteLogonOf(std::string_view url, const char *envPassword, const CodePage &cp);

// Runs the event loop until `done` holds; false when nothing moved (no trace line, no progress)
// for `idleSeconds`, after which both clients are aborted.
bool runEngineUntil(TransferEngine &engine, const std::function<bool()> &done, int idleSeconds);

// Logs the client of `slot` on and waits for the answer. Throws Error when nothing moved for
// `idleSeconds`, or with the client's error text (UTF-8) when the server refused.
void connectRemote(TransferEngine &engine, int slot, const RemoteLogon &logon, const CodePage &cp,
        int idleSeconds);

// Runs the event loop until `done` holds; throws Error("426 Timeout") when nothing moved for
// `idleSeconds`.
void awaitRemote(TransferEngine &engine, const std::function<bool()> &done, int idleSeconds);

// Says goodbye on the client of `slot`, when it is still connected, and gives the server a few
// seconds to close.
void quitRemote(TransferEngine &engine, int slot);

} // namespace veltrano
