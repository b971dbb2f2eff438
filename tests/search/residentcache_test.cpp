#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "cache/synthcache.h"
#include "search/objsearch.h"
#include "search/residentcache.h"
#include "support/cachefixture.h"
#include "support/tempdir.h"

using namespace veltrano;
using namespace veltrano::test;
namespace fs = std::filesystem;

namespace {

const CodePage &utf8()
{
    static const CodePage cp("UTF-8");
    return cp;
}

// The hits' full names, in order.
std::vector<std::string> search(ResidentCache &kept, const std::string &folder, std::string_view key,
                                unsigned threads = 1)
{
    TCompInfos conds;
    conds[0] = TCompInfo{clAnd, cfName, coContains, std::string(key), 0, 0};
    CheckConditions(conds);
    std::vector<std::string> hits;
    TObjSearch worker(folder, 0, 0, conds, utf8(), {});
    worker.ScanThreads = threads;
    worker.ChunkEntries = 2;
    worker.Resident = &kept;
    worker.OnHit = [&](TObjSearch &s) { hits.emplace_back(s.CurItem().name()); };
    worker.Start();
    worker.WaitFor();
    return hits;
}

void writePair(const std::string &folder, const std::vector<std::string> &names)
{
    IndexPairWriter w;
    std::vector<CacheEntry> entries;
    for (const std::string &name : names)
        entries.push_back(fileEntry(name, 1));
    w.addDirectory("\\\\PC\\s\\", entries);
    w.write(folder, "s", utf8());
    writeNodeList(folder, {makeNode("s", "s", indexedKind())});
}

void setTime(const fs::path &file, const struct stat &like)
{
    const struct timespec times[2] = {like.st_atim, like.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

} // namespace

// A pair is read once and kept while its files stay, and an unchanged cache is not even looked
// at again; any change the collector can make to it is seen by the next search, even one that
// leaves size and time as they were, or one deep in a container's folder.
TEST(ResidentCache, AReplacedPairIsSeenByTheNextSearchAndAnUnchangedOneIsNotReadAgain)
{
    struct Case
    {
        const char *what;
        std::function<void(const TempDir &root, const TempDir &spare)> replace;
        std::vector<std::string> after;
        size_t pairsAfter = 1;
    };
    const std::string s = "\\\\PC\\s\\";
    const std::vector<Case> cases = {
            {"written again by the collector",
                    [](const TempDir &root, const TempDir &) {
                        writePair(root.folder(), {"new-a", "new-b"});
                    },
                    {s + "new-a", s + "new-b"}},
            {"renamed over with the same size and time",
                    [](const TempDir &root, const TempDir &spare) {
                        writePair(spare.folder(), {"new-a", "new-c"});
                        for (const char *ext : {".IDX", ".LST"}) {
                            struct stat old
                            { };
                            ASSERT_EQ(::stat((root.path() / (std::string("s") + ext)).c_str(), &old), 0);
                            setTime(spare.path() / (std::string("s") + ext), old);
                            fs::rename(spare.path() / (std::string("s") + ext), root.path() / (std::string("s") + ext));
                        }
                    },
                    {s + "new-a", s + "new-c"}},
            {"list removed",
                    [](const TempDir &root, const TempDir &) {
                        fs::remove(root.path() / "s.LST");
                    },
                    {}, 0},
            {"node taken out of the node list",
                    [](const TempDir &root, const TempDir &) {
                        writeNodeList(root.folder(), {});
                    },
                    {}, 0},
            {"node added in a container's folder",
                    [](const TempDir &root, const TempDir &) {
                        writePair(root.folder() + "box/", {"box-a"});
                    },
                    {s + "old-a", s + "old-b", s + "box-a"}, 2},
    };
    for (const Case &c : cases) {
        TempDir root;
        TempDir spare;
        ResidentCache kept;
        writePair(root.folder(), {"old-a", "old-b"});
        writeNodeList(root.folder(), {makeNode("s", "s", indexedKind()), makeNode("box", "box", containerKind(), 0)});
        fs::create_directory(root.path() / "box");
        EXPECT_EQ(search(kept, root.folder(), "-"), (std::vector<std::string>{s + "old-a", s + "old-b"}));
        EXPECT_EQ(search(kept, root.folder(), "a", 2), std::vector<std::string>{s + "old-a"});
        EXPECT_EQ(kept.usage().loads, 1u) << c.what;
        EXPECT_EQ(kept.usage().checks, 0u) << c.what;
        c.replace(root, spare);
        EXPECT_EQ(search(kept, root.folder(), "-"), c.after) << c.what;
        EXPECT_EQ(kept.usage().pairs, c.pairsAfter) << c.what;
    }
}

// Searches on several threads share the kept pairs while the collector replaces them: each
// sees one generation whole.
TEST(ResidentCache, ConcurrentSearchesSeeOneGenerationWhileThePairIsReplaced)
{
    TempDir root;
    const std::vector<std::string> one = {"gen-x1", "gen-x2", "gen-x3"};
    const std::vector<std::string> two = {"gen-y1", "gen-y2"};
    writePair(root.folder(), one);
    ResidentCache kept;
    std::atomic<bool> done{false};
    std::atomic<int> mixed{0};
    std::vector<std::thread> searchers;
    for (unsigned t = 0; t < 3; ++t) {
        searchers.emplace_back([&, t] {
            while (!done) {
                const std::vector<std::string> hits = search(kept, root.folder(), "gen", 1 + t % 2);
                if (hits.size() != one.size() && hits.size() != two.size() && !hits.empty())
                    ++mixed;
            }
        });
    }
    for (int i = 0; i < 40; ++i)
        writePair(root.folder(), i % 2 ? one : two);
    done = true;
    for (std::thread &t : searchers)
        t.join();
    EXPECT_EQ(mixed, 0);
}

TEST(ResidentCache, KeepsNoMoreThanAFifthOverTheFilesSize)
{
    TempDir root;
    generateSynthCache(root.path(), SynthCacheSpec::sized(50000, 1000, 4));
    ResidentCache kept;
    search(kept, root.folder(), "zzz-none");
    const ResidentCache::Usage usage = kept.usage();
    ASSERT_EQ(usage.pairs, 4u);
    EXPECT_LE(double(usage.memoryBytes), 1.2 * double(usage.fileBytes))
            << usage.memoryBytes << " " << usage.fileBytes;
}
