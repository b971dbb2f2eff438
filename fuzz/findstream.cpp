// The search server's result stream, parsed whole and fed in chunks as the transfer window
// receives it. However the bytes are cut into chunks, the parses and their outcomes must be the
// same. Input: one byte choosing the chunk sizes, then the received bytes.

#include "protocol/findstream.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzsupport.h"
#include "util/error.h"

using namespace veltrano;
using namespace veltrano::fuzz;

namespace {

// Every parse the stream makes, as text.
std::vector<std::string> feed(std::string_view bytes, size_t chunk, size_t step)
{
    FindStream stream(bigFive());
    std::vector<std::string> parses;
    stream.setResultsHandler([&] {
        std::string text = stream.lastError() + "|" + std::to_string(stream.foundFiles()) + "|"
                + std::to_string(stream.foundFolders());
        for (const TItemData &item : stream.results()) {
            require(memchr(item.Name, 0, sizeof item.Name) != nullptr, "a name ends in its field");
            text += "\n" + std::string(item.name()) + "|" + std::to_string(item.Size) + "|"
                    + std::to_string(item.Attr) + "|" + std::to_string(item.Time);
        }
        parses.push_back(std::move(text));
    });
    stream.start();
    for (size_t at = 0; at < bytes.size(); chunk += step) {
        // A copy of its own, so that a read past the chunk is a read past a heap block.
        const std::string piece(bytes.substr(at, chunk));
        stream.feed(piece);
        at += piece.size();
    }
    require(stream.pendingBytes() <= bytes.size(), "pending bytes were received");
    return parses;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string_view bytes = asText(data + 1, size - 1);

    TItemList results;
    FindTotals totals;
    try {
        parseFindStream(bytes, (data[0] & 0x80) != 0, bigFive(), results, totals);
    } catch (const Error &) { }

    const auto whole = feed(bytes, bytes.size() + 1, 0);
    const auto chunked = feed(bytes, 1 + (data[0] & 0x0F), (data[0] >> 4) & 0x07);
    require(whole == chunked, "the parses do not depend on the chunking");
    return 0;
}
