#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "cache/indexscan.h"
#include "util/codepage.h"

namespace veltrano {

// The search server's result stream: code-page bytes, lines ended by LF, two-byte markers that
// begin with '?':
//
//   header lines   folder path '<' number of entry lines of that folder
//   ?B             the headers of a block are complete; entry lines follow, folder by folder:
//                    date                    the folder itself
//                    name '<' date           a sub-folder
//                    name '<' size '<' date  a file
//   ?H             summary: files found '<' folders found; the parse ends here
//   ?A / ?O        the server's buffer overflowed / more hits than the server allows
//   ?E             end of the stream
//
// '?' and LF can never be the trail byte of a Big5 character, so markers and line ends are found
// byte-wise; fields inside a line are cut by the character-aware tokenizer.

// Built-in texts of the transfer window (UTF-8).
inline constexpr std::string_view kFindBufferFull = "緩衝區溢滿";
inline constexpr std::string_view kFindOverLimit = "超出伺服器限制筆數";
inline constexpr std::string_view kFindBadStructure = "伺服器傳回之資料結構錯誤";

// Totals of the summary line.
struct FindTotals
{
    int files = 0;
    int folders = 0;
};

// Parses one complete stream into `results` (cleared first; entries in stream order). `cut` says
// that the stream was cut at the buffer's size: reaching its end without a summary then raises
// the buffer-full error. Throws Error with the message the transfer window logs (one of the texts
// above, the structure error followed by the offending line, or a date conversion error); the
// entries made before the error stay in `results`, the totals are set only by a summary.
void parseFindStream(std::string_view stream, bool cut, const CodePage &cp, TItemList &results,
        FindTotals &totals);

// Accumulates the chunks of the retrieved pseudo file FIND and parses each complete stream.
// The owner (the transfer window, or a diagnostic tool) calls start() when it sends a search and
// feed() with every received chunk; after every parse the results handler runs, and before it
// the error handler when the parse ended with an error. Not thread-safe: one thread drives it.
//
// Decisions beyond the wire format:
// - A stream longer than the buffer (kBufferSize bytes, end marker included) keeps its first
//   kBufferSize bytes; the rest is dropped until its end marker arrives, and the parse of the
//   kept part ends with the buffer-full error unless it reached the summary. Nothing is ever
//   written past the buffer.
// - An end marker split across two chunks ('?' last in one, 'E' first in the next) ends the
//   stream just as one inside a chunk does, so the entries never depend on the chunking.
// - The bytes after an end marker begin the next stream; if they hold another complete stream,
//   that one is parsed too.
class FindStream
{
public:
    static constexpr size_t kBufferSize = 204800;

    explicit FindStream(CodePage cp);

    // Called after every parse; results() and totals() are then current.
    void setResultsHandler(std::function<void()> handler) { m_onResults = std::move(handler); }
    // Called with the error text of a parse that ended with an error, before the results handler.
    void setErrorHandler(std::function<void(const std::string &)> handler)
    {
        m_onError = std::move(handler);
    }

    // A new search: empties the buffer and zeroes the totals (the last results stay until the
    // next parse replaces them).
    void start();
    // One received chunk, of any size.
    void feed(std::string_view chunk);

    const TItemList &results() const { return m_results; }
    int foundFiles() const { return m_totals.files; }
    int foundFolders() const { return m_totals.folders; }
    // The error of the last parse; empty when it ended cleanly.
    const std::string &lastError() const { return m_lastError; }
    // Bytes received since the last end marker (counting those dropped from an overlong stream).
    size_t pendingBytes() const { return m_received; }

private:
    void append(std::string_view bytes);
    void complete(std::string_view tail);

    CodePage m_cp;
    std::string m_buffer; // at most kBufferSize bytes
    size_t m_received = 0;
    bool m_lastWasQuestion = false; // the last byte received was '?'
    TItemList m_results;
    FindTotals m_totals;
    std::string m_lastError;
    std::function<void()> m_onResults;
    std::function<void(const std::string &)> m_onError;
};

} // namespace veltrano
