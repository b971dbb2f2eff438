#include "server/userdb.h"

#include <cstring>
#include <memory>
#include <optional>

#include <crypt.h>

#include <fmt/format.h>

#include "util/error.h"
#include "util/filebytes.h"

namespace veltrano {
namespace {

bool sameBytes(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

UserDb UserDb::load(const std::filesystem::path &file)
{
    const std::optional<std::string> bytes = readFileBytes(file, 1 << 20);
    if (!bytes)
        throw Error(fmt::format("No users file {}", file.string()));
    return parse(*bytes);
}

UserDb UserDb::parse(std::string_view text)
{
    UserDb db;
    int lineNumber = 0;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        ++lineNumber;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos)
            throw Error(fmt::format("Users file, line {}: not name:hash", lineNumber));
        const std::string_view name = line.substr(0, colon);
        std::string_view hash = line.substr(colon + 1);
        hash = hash.substr(0, hash.find(':'));
        if (name == "anonymous" && hash.empty()) {
            db.m_anonymous = true;
            continue;
        }
        db.m_users.push_back(User{std::string(name), std::string(hash)});
    }
    return db;
}

bool UserDb::isAnonymousName(std::string_view user)
{
    return user == "anonymous" || user == "ftp";
}

bool UserDb::check(std::string_view user, std::string_view password) const
{
    if (isAnonymousName(user) && m_anonymous)
        return true;
    if (password.find('\0') != std::string_view::npos)
        return false;
    for (const User &u : m_users) {
        if (u.name != user)
            continue;
        if (u.hash.empty() || u.hash.front() == '!' || u.hash.front() == '*')
            return false;
        auto data = std::make_unique<crypt_data>();
        const std::string pass(password);
        const char *out = crypt_r(pass.c_str(), u.hash.c_str(), data.get());
        // libxcrypt answers a hash it cannot read with a text starting with '*'.
        return out && out[0] != '*' && sameBytes(out, u.hash);
    }
    return false;
}

} // namespace veltrano
