// One cached directory listed from a node's index pair, as `ls` and the window's folder view
// read it. Input: the directory path asked for, the .IDX and the .LST, cut at the part marker.

#include <cstdint>
#include <cstring>

#include "cache/myutils.h"
#include "fuzzsupport.h"
#include "util/error.h"

using namespace veltrano;
using namespace veltrano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto parts = splitParts<3>(asText(data, size));
    Scratch &scratch = Scratch::instance();
    scratch.reset();
    scratch.write("n.IDX", parts[1]);
    scratch.write("n.LST", parts[2]);
    TItemList list;
    try {
        ListCacheDir(list, scratch.folder(), "n", parts[0], bigFive());
    } catch (const Error &) { }
    for (const TItemData &item : list)
        require(memchr(item.Name, 0, sizeof item.Name) != nullptr,
                "every name ends within its field");
    return 0;
}
