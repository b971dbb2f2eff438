#pragma once

#include <functional>
#include <memory>
#include <string>

namespace veltrano::test {

// A network namespace of the test's own, named uniquely for this process, deleted with every
// interface in it when the object goes. Making one needs root (CAP_SYS_ADMIN) and iproute2.
class NetNamespace
{
public:
    // A new namespace with its loopback up; nothing, with the reason in `whyNot`, when
    // namespaces cannot be made here.
    static std::unique_ptr<NetNamespace> create(std::string &whyNot);
    ~NetNamespace();
    NetNamespace(const NetNamespace &) = delete;
    NetNamespace &operator=(const NetNamespace &) = delete;

    const std::string &name() const { return m_name; }

    // Runs `ip -n <name> <args>`; false, with the command and its output in `failure`, when it
    // fails.
    bool ip(const std::string &args, std::string &failure) const;
    // Sets a sysctl of this namespace (net.ipv4.* values are per namespace).
    bool sysctl(const std::string &key, const std::string &value, std::string &failure) const;

    // Runs `fn` on a thread that has entered this namespace and waits for it: sockets made
    // there belong to the namespace. Returns false when the thread could not enter it.
    bool runInside(const std::function<void()> &fn) const;

private:
    explicit NetNamespace(std::string name);

    std::string m_name;
};

// Runs a shell command; false, with the command and its output in `failure`, when it fails.
bool runCommand(const std::string &command, std::string &failure);

} // namespace veltrano::test
