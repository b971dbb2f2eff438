#include "smb/smbclient.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include <libsmbclient.h>

#include "util/error.h"

namespace veltrano {
namespace {

// Windows attribute of a link on the server (a junction): listed, never entered.
constexpr uint32_t kAttrReparsePoint = 0x400;

// libsmbclient loads its configuration into process-wide state when a context starts; that
// start is not safe on two threads at once, everything after it is (one context per thread).
std::mutex &setupMutex()
{
    static std::mutex mutex;
    return mutex;
}

void copyField(char *to, int length, const std::string &from)
{
    if (length > 0)
        std::snprintf(to, size_t(length), "%s", from.c_str());
}

void authenticate(SMBCCTX *context, const char *, const char *, char *workgroup,
        int workgroupLength, char *user, int userLength, char *password, int passwordLength)
{
    const auto *client = static_cast<const SmbClient *>(smbc_getOptionUserData(context));
    if (!client)
        return;
    const SmbCredentials &c = client->credentials();
    if (!c.domain.empty())
        copyField(workgroup, workgroupLength, c.domain);
    copyField(user, userLength, c.user);
    copyField(password, passwordLength, c.password);
}

// The library's own chatter would break the progress line; what matters reaches us as errno.
void quiet(void *, int, const char *) { }

class SmbShareSource : public FolderSource
{
public:
    SmbShareSource(SmbClient &client, std::string computer, std::string share)
        : m_client(client)
        , m_computer(std::move(computer))
        , m_share(std::move(share))
    { }

    Outcome list(const std::string &relPath, std::vector<SourceEntry> &entries,
            std::string &error) override
    {
        SMBCCTX *ctx = m_client.context();
        errno = 0;
        SMBCFILE *dir = smbc_getFunctionOpendir(ctx)(
                ctx, SmbClient::url(m_computer, m_share, relPath).c_str());
        if (!dir) {
            const int code = errno ? errno : EIO;
            error = smbErrorText(code);
            return isConnectionLost(code) ? Outcome::Lost : Outcome::Refused;
        }
        const smbc_readdirplus2_fn next = smbc_getFunctionReaddirPlus2(ctx);
        struct stat st
        { };
        while (const libsmb_file_info *info = next(ctx, dir, &st)) {
            if (!info->name || std::strcmp(info->name, ".") == 0
                    || std::strcmp(info->name, "..") == 0)
                continue;
            SourceEntry entry;
            entry.name = info->name;
            entry.attr = info->attrs;
            const bool folder = (entry.attr & kAttrDirectory) != 0;
            entry.size = folder ? 0 : info->size;
            entry.time = toCacheTime(int64_t(info->mtime_ts.tv_sec));
            entry.enter = folder && !(entry.attr & kAttrReparsePoint);
            entries.push_back(std::move(entry));
        }
        smbc_getFunctionClosedir(ctx)(ctx, dir);
        return Outcome::Listed;
    }

    std::string where(const std::string &relPath) const override
    {
        std::string path = "\\\\" + m_computer + "\\" + m_share + "\\" + relPath;
        for (char &c : path)
            if (c == '/')
                c = '\\';
        return path;
    }

private:
    SmbClient &m_client;
    std::string m_computer;
    std::string m_share;
};

} // namespace

SmbClient::SmbClient(const SmbCredentials &credentials, uint16_t port, int timeoutMs,
        const std::string &minProtocol)
    : m_credentials(credentials)
{
    const std::lock_guard lock(setupMutex());
    m_context = smbc_new_context();
    if (!m_context)
        throw Error("Cannot start the SMB client: " + std::string(std::strerror(errno)));
    smbc_setDebug(m_context, 0);
    smbc_setLogCallback(m_context, nullptr, quiet);
    smbc_setOptionUserData(m_context, this);
    smbc_setFunctionAuthDataWithContext(m_context, authenticate);
    smbc_setTimeout(m_context, timeoutMs);
    if (port)
        smbc_setPort(m_context, port);
    // Given credentials must work or fail: a silent fall-back to a guest logon would collect a
    // guest's view as if it were the user's.
    smbc_setOptionNoAutoAnonymousLogin(m_context, !credentials.user.empty());
    smbc_setOptionUseKerberos(m_context, false);
    smbc_setOptionFallbackAfterKerberos(m_context, true);
    smbc_setOptionUseCCache(m_context, false);
    if (!minProtocol.empty() && !smbc_setOptionProtocols(m_context, minProtocol.c_str(), nullptr)) {
        smbc_free_context(m_context, 1);
        m_context = nullptr;
        throw Error("Not an SMB dialect: " + minProtocol + " (NT1, SMB2_02, SMB2_10, SMB3, ...)");
    }
    if (!smbc_init_context(m_context)) {
        const int code = errno;
        smbc_free_context(m_context, 1);
        m_context = nullptr;
        throw Error("Cannot start the SMB client: " + std::string(std::strerror(code)));
    }
}

SmbClient::~SmbClient()
{
    if (m_context) {
        const std::lock_guard lock(setupMutex());
        smbc_free_context(m_context, 1);
    }
}

std::string SmbClient::url(
        const std::string &computer, const std::string &share, const std::string &relPath)
{
    std::string text = "smb://" + smbUrlEscape(computer) + "/";
    if (!share.empty())
        text += smbUrlEscape(share) + "/";
    if (!relPath.empty())
        text += smbUrlEscape(relPath) + "/";
    return text;
}

std::vector<std::string> SmbClient::listShares(const std::string &computer, bool hidden)
{
    errno = 0;
    SMBCFILE *dir = smbc_getFunctionOpendir(m_context)(m_context, url(computer, {}, {}).c_str());
    if (!dir)
        throw Error(smbErrorText(errno ? errno : EIO));
    std::vector<std::string> shares;
    const smbc_readdir_fn next = smbc_getFunctionReaddir(m_context);
    while (const smbc_dirent *entry = next(m_context, dir)) {
        if (entry->smbc_type != SMBC_FILE_SHARE)
            continue; // printers, IPC$, comms
        const std::string name(entry->name, strnlen(entry->name, entry->namelen));
        if (name.empty() || (name.back() == '$' && !hidden))
            continue;
        shares.push_back(name);
    }
    smbc_getFunctionClosedir(m_context)(m_context, dir);
    return shares;
}

std::unique_ptr<FolderSource> SmbClient::share(
        const std::string &computer, const std::string &share)
{
    return std::make_unique<SmbShareSource>(*this, computer, share);
}

std::string smbErrorText(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return "access denied (wrong user name or password, or no right to read it)";
    case ENOENT:
    case ENODEV:
        return "no such share or folder";
    case ECONNREFUSED:
        return "connection refused (no SMB server on that port)";
    case ETIMEDOUT:
        return "no answer in time";
    case ECONNABORTED:
        return "the server broke the connection off (an SMB1-only server needs the NT1 dialect)";
    case EHOSTUNREACH:
    case ENETUNREACH:
        return "computer unreachable";
    default:
        return std::strerror(error);
    }
}

bool isConnectionLost(int error)
{
    switch (error) {
    case ECONNRESET:
    case ECONNABORTED:
    case ECONNREFUSED:
    case ETIMEDOUT:
    case EPIPE:
    case ENOTCONN:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETRESET:
    case EIO:
        return true;
    default:
        return false;
    }
}

} // namespace veltrano
