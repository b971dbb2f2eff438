// veltrano-cli ping: ICMP echo requests to one host, as the on-line status sends them.
#include <charconv>
#include <chrono>
#include <iostream>
#include <thread>

#include <fmt/format.h>

#include "command.h"
#include "net/icmp.h"

namespace veltrano::cli {
namespace {

// Echoes start at most once a second, as ping(8) sends them.
constexpr std::chrono::milliseconds kInterval{1000};

// Open-ended ranges of the command-line library name the largest double as their end; this one
// says in words what is allowed.
CLI::Validator atLeast(int minimum)
{
    return CLI::Validator(
            [minimum](std::string &text) -> std::string {
                int value = 0;
                const auto [end, error] =
                        std::from_chars(text.data(), text.data() + text.size(), value);
                if (error == std::errc() && end == text.data() + text.size() && value >= minimum)
                    return {};
                return "\"" + text + "\" is not allowed: give a whole number of "
                        + std::to_string(minimum) + " or more";
            },
            "");
}

std::string formatEcho(const TICMP &icmp, int replies)
{
    const TIcmpEchoReply &reply = icmp.Reply();
    // No reply record (a time-out, no socket, no address): there is no round-trip time.
    std::string time = reply.Address != 0 ? fmt::format("{} ms", reply.RoundTripTime) : "*";
    std::string hostIP = icmp.HostIP().empty() ? "-" : icmp.HostIP();
    return fmt::format("{}\t{}\t{}\t{}", replies, hostIP, time, icmp.ErrorString());
}

std::function<int()> setupPing(CLI::App &sub)
{
    struct Args
    {
        std::string host;
        int timeout = 4000;
        int size = 56;
        int ttl = 64;
        int count = 1;
    };
    auto args = std::make_shared<Args>();
    sub.footer("Each line: replies, host IP, round-trip time, status. Exit status 0 when every "
               "echo was answered, 1 otherwise.");
    sub.add_option("HOST", args->host,
               "Host name, dotted IPv4 address, or the address as one decimal number")
            ->required();
    sub.add_option(
               "--timeout", args->timeout, "Milliseconds each echo waits for its reply (0 or more)")
            ->check(atLeast(0))
            ->capture_default_str();
    sub.add_option("--size", args->size, "Bytes of echo data")
            ->check(CLI::Range(0, 65507))
            ->capture_default_str();
    sub.add_option("--ttl", args->ttl, "Time-to-live of the requests")
            ->check(CLI::Range(1, 255))
            ->capture_default_str();
    sub.add_option("--count", args->count, "Number of echoes (1 or more)")
            ->check(atLeast(1))
            ->capture_default_str();

    return [args] {
        TICMP icmp;
        icmp.SetAddress(args->host);
        icmp.SetTimeout(args->timeout);
        icmp.SetSize(args->size);
        icmp.SetTTL(args->ttl);
        bool allAnswered = true;
        for (int i = 0; i < args->count; ++i) {
            auto start = std::chrono::steady_clock::now();
            int replies = icmp.Ping();
            allAnswered = allAnswered && replies > 0;
            std::cout << formatEcho(icmp, replies) << std::endl;
            if (i + 1 < args->count)
                std::this_thread::sleep_until(start + kInterval);
        }
        return allAnswered ? kExitOk : kExitFailure;
    };
}

const bool registered = registerCommand({"ping", "Send ICMP echo requests to a host", setupPing});

} // namespace
} // namespace veltrano::cli
