// The FTP control connection's replies: the received bytes cut into lines, with and without
// bare LF ends, and every line read for its code, its end-of-reply mark, a folder and the sizes.
// Input: one byte of flags, then the bytes the server sent.

#include "ftp/ftpreply.h"

#include <cstdint>
#include <string>

#include "fuzzsupport.h"

using namespace veltrano;
using namespace veltrano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool acceptLF = (data[0] & 1) != 0;
    std::string buffer(asText(data + 1, size - 1));
    while (const std::optional<std::string> line = takeReplyLine(buffer, acceptLF)) {
        require(line->empty() || (line->back() != '\r' && line->back() != '\n'),
                "a line comes without its end");
        require(acceptLF || line->find("\r\n") == std::string::npos, "one line at a time");
        const int code = replyCode(*line);
        require(code >= -1, "a code is a number or -1");
        require(extractReplyDir(*line).size() <= line->size(), "a folder lies inside its reply");
        require(extractReplySize(*line) >= 0, "a size is never negative");
        const std::optional<int64_t> announced = announcedSize(*line);
        require(!announced || *announced >= 0, "an announced size is never negative");
    }
    return 0;
}
