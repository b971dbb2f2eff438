// Listing lines of the search server's LIST, line by line and as a whole listing text.

#include "protocol/listparse.h"

#include <cstdint>
#include <cstring>

#include "fuzzsupport.h"
#include "util/error.h"

using namespace veltrano;
using namespace veltrano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text = asText(data, size);
    const Listing listing = parseListingText(text, bigFive());
    require(size_t(listing.folders) + size_t(listing.files) == listing.entries.size(),
            "folders and files add up to the entries");
    for (const TItemData &item : listing.entries) {
        require(memchr(item.Name, 0, sizeof item.Name) != nullptr, "a name ends in its field");
        const std::string_view name = item.name();
        require(!name.empty() && name != "." && name != "..", "no entry for a blank, . or ..");
        require(!item.isDirectory() || item.Size == 0, "a folder has no size");
    }
    // The first line alone, as the transfer window's line reader hands it over.
    const std::string_view first = text.substr(0, text.find_first_of("\r\n"));
    (void)ParseListLine(first, bigFive());
    return 0;
}
