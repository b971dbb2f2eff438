#pragma once

#include <string>
#include <vector>

#include "cache/collector.h"
#include "smb/smbcollect.h"

namespace veltrano {

// One unit of an SMB collection: a computer to look at (and list the shares of), or a share to
// walk.
struct SmbTask
{
    std::string computer;
    std::vector<std::string> shares; // for a computer task: the shares named; empty = all
    bool wholeComputer = false;
    std::string share; // for a share task
    std::string address;
};

// The library behind SMB keeps state of its own per process that two threads cannot share, so
// each task runs in a process of its own: it reads its computer or share, stores what it read
// (the cache's node lists are locked between processes) and tells the parent over a pipe, one
// line per message, a kind letter and tab-separated fields:
//   W warning                     P folders entries (running totals of the walk)
//   T share address (a share to walk, from a computer task)
//   F source reason               S folders entries warnings names shares (a share task is over)
//   C (a computer task is over)
// A process that ends without F, S or C has failed.
void runSmbTask(int fd, const SmbTask &task, CacheTarget &target, const CollectOptions &options,
        const SmbCollectOptions &smb);

// \\COMPUTER or \\COMPUTER\share, as reports name the task.
std::string smbTaskSource(const SmbTask &task);

// The fields of one message line.
std::vector<std::string> splitSmbMessage(const std::string &line);

// True when a TCP connection to host:port (445 and 139 for port 0) is accepted within
// timeoutMs; otherwise false with the reason.
bool smbServerAnswers(const std::string &host, uint16_t port, int timeoutMs, std::string &reason);

} // namespace veltrano
