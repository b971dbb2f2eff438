#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

// The server's users: one "name:hash" line each, the form of /etc/shadow (further ':' fields
// are ignored) and of htpasswd files, so that administrators make the hashes with the tools
// they know (mkpasswd, openssl passwd -6, htpasswd -B). Any hash that crypt(3) of libxcrypt
// reads is taken: yescrypt, SHA-512, bcrypt, ...
//
// A hash that is empty or starts with '!' or '*' locks the user out. Anonymous log-on is refused
// unless the file holds the line "anonymous:" (empty hash), which lets the names anonymous and
// ftp in with any password.
//
// Immutable after load; check() is safe from any thread and may be slow (that is what a
// password hash is for): run it off the event loop.
class UserDb
{
public:
    // Throws Error naming the line of a wrong form.
    static UserDb load(const std::filesystem::path &file);
    static UserDb parse(std::string_view text);

    bool anonymousAllowed() const { return m_anonymous; }
    static bool isAnonymousName(std::string_view user);
    // True when the user exists, is not locked and the password matches its hash.
    bool check(std::string_view user, std::string_view password) const;
    size_t size() const { return m_users.size(); }

private:
    struct User
    {
        std::string name;
        std::string hash;
    };
    std::vector<User> m_users;
    bool m_anonymous = false;
};

} // namespace veltrano
