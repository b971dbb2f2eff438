#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cache/indexscan.h"

namespace veltrano {

// Writes the search server's result stream (the format findstream.h reads) from hits in the
// order a search finds them. Hits are grouped into blocks by the folder part of their Name
// (up to the last backslash): one header line per folder, then the folders' entry lines.
//
// The stream is written for a client with a bounded buffer: once the text would pass `maxBytes`
// (trailer included), the hits already written stay and the stream ends with ?A. A hit whose
// texts the format cannot carry ('?', '<', CR, LF or blanks at either end of a name, which the
// reader would take for markers, separators or padding) is left out and counted in skipped().
//
// Not thread-safe; one writer per search.
class FindStreamWriter
{
public:
    static constexpr size_t kDefaultMaxBytes = 204800;
    // Entry lines gathered before a block is written out.
    static constexpr size_t kBlockEntries = 256;

    explicit FindStreamWriter(const class CodePage &cp, size_t maxBytes = kDefaultMaxBytes);

    // Adds one hit; false once the stream is full (the hit is not in it).
    bool add(const TItemData &item);
    // The normal end: the summary with the files and folders written, then ?E.
    std::string finish();
    // More hits than the server allows: what was written, then ?O and ?E.
    std::string finishOverLimit();
    // The search could not be completed or the stream has no room: ?A and ?E.
    std::string finishFailed();

    bool full() const { return m_full; }
    uint64_t files() const { return m_files; }
    uint64_t folders() const { return m_folders; }
    uint64_t skipped() const { return m_skipped; }

private:
    struct Group
    {
        std::string folder;
        std::vector<std::string> lines;
    };

    void flushBlock();
    std::string end(std::string_view trailer);

    const CodePage &m_cp;
    size_t m_maxBytes;
    std::string m_out;
    std::vector<Group> m_groups;
    size_t m_pendingBytes = 0; // bytes the pending block will take
    size_t m_pendingEntries = 0;
    bool m_full = false;
    uint64_t m_files = 0;
    uint64_t m_folders = 0;
    uint64_t m_skipped = 0;
};

// The date-time text of an entry line; a value no calendar holds is written as day 0.
std::string findStreamDate(double time);

} // namespace veltrano
