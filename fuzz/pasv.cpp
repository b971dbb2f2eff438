// The 227 reply to PASV, whose numbers give the data connection's port.

#include <cstdint>

#include "ftp/ftpreply.h"
#include "fuzzsupport.h"

using namespace veltrano;
using namespace veltrano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view reply = asText(data, size);
    const std::optional<uint16_t> port = parsePasvPort(reply);
    require(!port || reply.find('(') != std::string_view::npos,
            "a port comes from between brackets");
    return 0;
}
