// The search worker over a cache made from the input: a node list and one node's index pair,
// searched on one thread and on two with the same conditions and options, from the files and
// from a pair kept in memory (laid out in columns, or kept as it is when damaged so). Every run
// must hand over the same nodes, hits, counters and error, in the same order.
//
// Input: three bytes (options, minimum hits and window, condition shape), the key text, then
// ALL.NOD, .IDX and .LST, the four texts cut at the part marker. The pair is written under the
// cache name of the first node the list yields.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "cache/myutils.h"
#include "fuzzsupport.h"
#include "search/objsearch.h"
#include "search/residentcache.h"
#include "util/error.h"

using namespace veltrano;
using namespace veltrano::fuzz;

namespace {

struct Shape
{
    TCompInfo rows[3];
};

// Row shapes: the key goes into every row whose Text is empty.
const Shape kShapes[] = {
        {{{clAnd, cfName, coContains, ""}}},
        {{{clAnd, cfName, coEquals, ""}}},
        {{{clAnd, cfExt, coEquals, ""}}},
        {{{clAnd, cfExt, coContains, ""}}},
        {{{clAnd, cfSize, coGreater, ""}}},
        {{{clAnd, cfDate, coLess, ""}}},
        {{{clAnd, cfName, coContains, ""}, {clOr, cfExt, coEquals, "TXT"},
                {clAndNot, cfSize, coLess, "1"}}},
        {{{clAnd, cfSize, coEquals, "0"}, {clAnd, cfName, coContains, ""}}},
        {{{clAnd, cfDate, coGreater, "2000/1/1"}, {clOr, cfName, coEquals, ""}}},
};

std::vector<std::string> runSearch(const TCompInfos &conds, int32_t options, int32_t minHits,
        size_t windowBytes, unsigned threads, ResidentCache *kept = nullptr)
{
    std::vector<std::string> events;
    TObjSearch search(Scratch::instance().folder(), options, minHits, conds, bigFive(),
            [](const std::function<void()> &f) {
                f();
            });
    search.ScanThreads = threads;
    search.ChunkEntries = 2; // small enough for a few entries to make several chunks
    search.WindowBytes = windowBytes;
    search.Resident = kept;
    const auto counters = [](TObjSearch &s) {
        return " " + std::to_string(s.FileCount()) + "/" + std::to_string(s.FolderCount());
    };
    search.OnNode = [&](TObjSearch &s) {
        events.push_back("node " + s.CurNodeName() + counters(s));
    };
    search.OnHit = [&](TObjSearch &s) {
        const TItemData &item = s.CurItem();
        events.push_back("hit " + std::string(item.name()) + " " + std::to_string(item.Size) + " "
                + std::to_string(item.Attr) + counters(s));
    };
    search.OnEnd = [&](TObjSearch &s) {
        events.push_back("end" + counters(s));
    };
    search.Start();
    search.WaitFor();
    events.push_back("error " + search.ErrorMessage());
    return events;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const int32_t options = data[0] & 0x3E;
    const int32_t minHits = data[1] & 0x0F;
    const size_t windowBytes = (data[1] & 0x10) ? 64 : LstWindow::kDefaultCapacity;
    const Shape &shape = kShapes[data[2] % std::size(kShapes)];
    const auto parts = splitParts<4>(asText(data + 3, size - 3));

    TCompInfos conds;
    for (size_t i = 0; i < conds.size(); ++i) {
        conds[i] = shape.rows[i];
        if (conds[i].Logic != clNone && conds[i].Text.empty())
            conds[i].Text = std::string(parts[0]);
    }
    try {
        CheckConditions(conds);
    } catch (const Error &) {
        return 0;
    }

    Scratch &scratch = Scratch::instance();
    scratch.reset();
    scratch.write(kNodeListName, parts[1]);
    TNodeList nodes;
    try {
        ReadNodeList(scratch.folder(), nodes, false, bigFive());
    } catch (const Error &) { }
    if (!nodes.empty()) {
        const std::string &name = nodes.front().CacheName;
        const auto idx = cacheFilePath(scratch.folder(), name, ".IDX", bigFive());
        const auto lst = cacheFilePath(scratch.folder(), name, ".LST", bigFive());
        if (scratch.holds(idx) && scratch.holds(lst)) {
            scratch.write(idx.filename(), parts[2]);
            scratch.write(lst.filename(), parts[3]);
        }
    }

    const auto alone = runSearch(conds, options, minHits, windowBytes, 1);
    const auto shared = runSearch(conds, options, minHits, windowBytes, 2);
    if (alone != shared) {
        for (size_t i = 0; i < std::max(alone.size(), shared.size()); ++i)
            fprintf(stderr, "%-50s | %s\n", i < alone.size() ? alone[i].c_str() : "",
                    i < shared.size() ? shared[i].c_str() : "");
    }
    require(alone == shared, "one and two scanning threads hand over the same events");
    ResidentCache kept;
    require(runSearch(conds, options, minHits, windowBytes, 1, &kept) == alone,
            "a kept pair is searched as its files are");
    require(runSearch(conds, options, minHits, windowBytes, 2, &kept) == alone,
            "a kept pair is searched as its files are, on two threads");
    return 0;
}
