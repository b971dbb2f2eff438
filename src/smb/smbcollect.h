#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cache/collector.h"
#include "smb/smbsource.h"

namespace veltrano {

struct SmbCollectOptions
{
    SmbCredentials credentials; // an empty user logs on as a guest
    uint16_t port = 0; // 0: 445, then 139
    int timeoutMs = 15000; // a computer that does not answer within this is left as it was
    unsigned jobs = 4; // shares walked at once
    bool hidden = false; // also shares whose names end in '$' (never IPC$ or printers)
    std::string minProtocol; // oldest dialect spoken (NT1 reaches SMB1 servers); empty: default
};

// Totals so far, for a progress line.
struct SmbProgress
{
    size_t computersDone = 0;
    size_t computers = 0;
    size_t folders = 0;
    size_t entries = 0;
    double seconds = 0;
};

// A source that could not be read; what the cache held for it is unchanged.
struct SmbFailure
{
    std::string source; // \\COMPUTER or \\COMPUTER\share
    std::string reason;
};

struct SmbCollectReport
{
    CollectStats stats;
    size_t computers = 0;
    std::vector<SmbFailure> failures;
    bool allRead() const { return failures.empty(); }
};

// Reads every source over SMB and stores each share that was read whole into `target`: up to
// `jobs` shares at once, each in a child process with a logon of its own (the SMB library cannot
// serve two threads of one process). A computer that does not accept a connection within the
// time-out, a refused logon and a connection lost midway leave the cache's earlier nodes and
// index pairs of that source in place and are reported in the result. `options.warn` and
// `progress` are called on the calling thread, which waits here until every source is done.
SmbCollectReport collectSmb(const std::vector<SmbSource> &sources, CacheTarget &target,
        const CollectOptions &options, const SmbCollectOptions &smb,
        const std::function<void(const SmbProgress &)> &progress = {});

} // namespace veltrano
