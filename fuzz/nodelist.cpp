// A cache folder's node list: read whole and sorted, then single nodes loaded again by their
// position and by their cache name, as the window does when it opens one. Input: ALL.NOD.

#include <cstdint>

#include "cache/myutils.h"
#include "fuzzsupport.h"
#include "util/error.h"

using namespace veltrano;
using namespace veltrano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Scratch &scratch = Scratch::instance();
    scratch.reset();
    scratch.write(kNodeListName, asText(data, size));
    TNodeList list;
    try {
        ReadNodeList(scratch.folder(), list, true, bigFive());
    } catch (const Error &) {
        return 0;
    }
    require(list.size() <= size / kNodeRecordSize, "no more nodes than whole records");
    for (const TNodeData &node : list) {
        require(!node.isFree(), "free records are skipped");
        TNodeData byPosition = node;
        TNodeData byName;
        byName.Folder = node.Folder;
        byName.CacheName = node.CacheName;
        try {
            LoadNode(byPosition, bigFive());
            LoadNode(byName, bigFive());
        } catch (const Error &) {
            require(false, "a node just read loads again");
        }
        require(byPosition.CacheName == node.CacheName && byPosition.Name == node.Name
                        && byPosition.State == node.State,
                "loading by position gives the node read");
        require(byName.CacheName == node.CacheName, "loading by cache name finds that name");
    }
    return 0;
}
