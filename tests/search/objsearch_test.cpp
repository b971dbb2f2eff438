#include <algorithm>
#include <cstring>
#include <future>
#include <optional>
#include <random>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "cache/synthcache.h"
#include "search/objsearch.h"
#include "search/residentcache.h"
#include "support/cachefixture.h"
#include "support/tempdir.h"
#include "util/datetime.h"

using namespace veltrano;
using namespace veltrano::test;

namespace {

const CodePage &big5()
{
    static const CodePage cp("CP950");
    return cp;
}

std::string b5(std::string_view utf8)
{
    return big5().fromUtf8Lossy(utf8);
}

TCompInfos nameContains(std::string_view key)
{
    TCompInfos conds;
    conds[0] = TCompInfo {clAnd, cfName, coContains, std::string(key), 0, 0};
    CheckConditions(conds);
    return conds;
}

// How a search reads the index pairs: from their files, or kept in memory and scanned in
// columns, with each vector width of the key's candidate finder.
enum class Reading { Files, KeptAvx2, KeptSse2 };
Reading g_reading = Reading::Files;
ResidentCache g_kept;

class SearchReading : public testing::TestWithParam<Reading>
{
protected:
    void SetUp() override
    {
        g_reading = GetParam();
        g_kept.clear();
        if (!KeyCandidates::useSimd(GetParam() == Reading::KeptSse2 ? KeyCandidates::Simd::Sse2
                                                                      : KeyCandidates::Simd::Avx2))
            GTEST_SKIP() << "no AVX2 here";
    }
    void TearDown() override
    {
        g_reading = Reading::Files;
        KeyCandidates::useSimd(KeyCandidates::Simd::Widest);
    }
};

// Runs a search to its end on the calling thread's behalf and records every hand-off.
struct Walk
{
    std::vector<std::string> events;
    int ends = 0;
    int64_t files = 0;
    int64_t folders = 0;
    std::string error;
};

std::string hitText(const TItemData &item, int64_t files, int64_t folders)
{
    return fmt::format("hit {} {} {} {} {}/{}", big5().toUtf8(item.name()), item.Size, item.Attr,
                       formatDateTime(item.Time), files, folders);
}

Walk runSearch(const std::string &start, const TCompInfos &conds, int32_t options, int32_t minHits,
              unsigned threads = 1, uint64_t chunk = 8192,
              const std::function<void(TObjSearch &)> &tweak = {})
{
    Walk run;
    TObjSearch search(start, options, minHits, conds, big5(), [](const std::function<void()> &f) { f(); });
    search.ScanThreads = threads;
    search.ChunkEntries = chunk;
    if (g_reading != Reading::Files)
        search.Resident = &g_kept;
    search.OnNode = [&](TObjSearch &s) {
        run.events.push_back(fmt::format("node {} {}/{}", s.CurNodeName(), s.FileCount(), s.FolderCount()));
    };
    search.OnHit = [&](TObjSearch &s) {
        run.events.push_back(hitText(s.CurItem(), s.FileCount(), s.FolderCount()) + " @" + s.CurNodeName());
    };
    search.OnEnd = [&](TObjSearch &s) {
        ++run.ends;
        run.files = s.FileCount();
        run.folders = s.FolderCount();
    };
    if (tweak)
        tweak(search);
    search.Start();
    search.WaitFor();
    run.error = search.ErrorMessage();
    return run;
}

// One share with a small tree; "doc" matches d, d2, e, f … j.
//   \\PC\s\             c.txt, sub, other
//   \\PC\s\sub\         d.doc, d2.doc, deep
//   \\PC\s\sub\deep\    e.doc
//   \\PC\s\other\       f.doc … j.doc (all in order)
struct OptionCache
{
    TempDir dir;
    OptionCache()
    {
        IndexPairWriter w;
        w.addDirectory("\\\\PC\\s\\", {fileEntry("c.txt", 1), dirEntry("sub", 36000), dirEntry("other")});
        w.addDirectory("\\\\PC\\s\\sub\\", {fileEntry("d.doc", 2, 36001), fileEntry("d2.doc", 3, 36002), dirEntry("deep")});
        w.addDirectory("\\\\PC\\s\\sub\\deep\\", {fileEntry("e.doc", 4)});
        w.addDirectory("\\\\PC\\s\\other\\", {fileEntry("f.doc", 5), fileEntry("g.doc", 6), fileEntry("h.doc", 7, 36003),
                                              fileEntry("i.doc", 8), fileEntry("j.doc", 9)});
        w.write(dir.folder(), "s", big5());
        writeNodeList(dir.folder(), {makeNode("s", "s", indexedKind())});
    }
};

std::vector<std::string> hitNames(const Walk &run)
{
    std::vector<std::string> names;
    for (const std::string &e : run.events)
        if (e.rfind("hit ", 0) == 0)
            names.push_back(e.substr(4, e.find(' ', 4) - 4));
    return names;
}

} // namespace

TEST_P(SearchReading, EachOptionAloneAndCombined)
{
    OptionCache cache;
    const std::string s = "\\\\PC\\s\\";
    const std::string d = s + "sub\\d.doc", d2 = s + "sub\\d2.doc", e = s + "sub\\deep\\e.doc";
    const auto o = [&](char c) { return s + "other\\" + c + ".doc"; };
    struct Case
    {
        int32_t options;
        int32_t minHits;
        std::vector<std::string> hits;
    };
    const std::vector<Case> cases = {
            {0, 0, {d, d2, e, o('f'), o('g'), o('h'), o('i'), o('j')}},
            {soHitNum, 3, {d, d2, e, o('f'), o('g'), o('h'), o('i'), o('j')}}, // needs soOnlyShowFolder
            {soHitExclusive, 0, {d, e, o('f')}},
            {soHitNoFind, 0, {d, d2, o('f'), o('g'), o('h'), o('i'), o('j')}},
            {soHitNoFind | soHitExclusive, 0, {d, o('f')}},
            {soOnlyShowFolder, 0, {s + "sub", s + "sub\\deep", s + "other"}},
            {soOnlyShowFolder | soHitNum, 2, {s + "sub", s + "other"}},
            {soOnlyShowFolder | soHitNum, 3, {s + "other"}},
            {soOnlyShowFolder | soHitNoFind, 0, {s + "sub", s + "other"}},
            {soOnlyShowFolder | soHitNum | soHitNoFind | soHitExclusive, 2, {s + "sub", s + "other"}},
            {soOnlyFolderName, 0, {}},
    };
    for (const Case &c : cases) {
        for (const unsigned threads : {1u, 2u}) {
            const Walk run = runSearch(cache.dir.folder(), nameContains("doc"), c.options, c.minHits, threads, 1);
            EXPECT_EQ(hitNames(run), c.hits) << "options " << c.options << " threads " << threads;
            EXPECT_EQ(run.ends, 1);
        }
    }

    // Only folder entries are tested; files are counted all the same.
    const Walk folders = runSearch(cache.dir.folder(), nameContains("e"), soOnlyFolderName, 0);
    EXPECT_EQ(hitNames(folders), (std::vector<std::string> {s + "other", s + "sub\\deep"}));
    EXPECT_EQ(folders.files, 9);
    EXPECT_EQ(folders.folders, 3);
}

TEST(SearchWorker, FolderHitCarriesTheCompletingEntryAndStopsCountingTheFolder)
{
    OptionCache cache;
    const Walk run = runSearch(cache.dir.folder(), nameContains("doc"), soOnlyShowFolder | soHitNum, 3);
    ASSERT_EQ(run.events.size(), 2u);
    EXPECT_EQ(run.events[0], "node s 0/0");
    // Reported at h.doc, the third match: size 0, directory bit, h's date; 1+2+1+3 files and
    // 3 folders counted by then.
    EXPECT_EQ(run.events[1], "hit \\\\PC\\s\\other 0 16 " + formatDateTime(36003) + " 7/3 @s");
    EXPECT_EQ(run.files, 7); // i.doc and j.doc are neither tested nor counted
}

TEST(SearchWorker, WalksIndexedNodesBeforeContainersAndSkipsCachesNotInUse)
{
    TempDir root;
    const std::string top = root.folder();
    const auto share = [&](const std::string &folder, const std::string &name) {
        IndexPairWriter w;
        w.addDirectory("\\\\" + name + "\\", {fileEntry(name + ".doc", 100), fileEntry("x.txt", 1)});
        w.write(folder, name, big5());
    };
    // Top: a container first in the file, then an indexed node, a node not in use, and a node
    // that is both (scanned in the first pass, entered in the second).
    writeNodeList(top, {makeNode("box", "box", containerKind(), 0), makeNode("a", "a", indexedKind()),
                        makeNode("off", "off", indexedKind(), 0),
                        makeNode("both", "both", uint16_t(indexedKind() | containerKind()))});
    share(top, "a");
    share(top, "off");
    share(top, "both");
    writeNodeList(top + "box/", {makeNode("b", "b", indexedKind())});
    share(top + "box/", "b");
    writeNodeList(top + "both/", {makeNode("c", "c", indexedKind())});
    share(top + "both/", "c");

    const Walk run = runSearch(top, nameContains("doc"), 0, 0);
    const std::string t = formatDateTime(36526.5);
    EXPECT_EQ(run.events, (std::vector<std::string> {
                                  "node a 0/0", "hit \\\\a\\a.doc 100 32 " + t + " 1/0 @a",
                                  "node both 2/0", "hit \\\\both\\both.doc 100 32 " + t + " 3/0 @both",
                                  "node b 4/0", "hit \\\\b\\b.doc 100 32 " + t + " 5/0 @b",
                                  "node c 6/0", "hit \\\\c\\c.doc 100 32 " + t + " 7/0 @c"}));
    EXPECT_EQ(run.files, 8);
    EXPECT_EQ(run.ends, 1);
}

TEST(SearchWorker, StopBeforeTheFirstNodeStillEndsOnce)
{
    OptionCache cache;
    const Walk run = runSearch(cache.dir.folder(), nameContains("doc"), 0, 0, 1, 8192,
                              [](TObjSearch &s) { s.Terminate(); });
    EXPECT_TRUE(run.events.empty());
    EXPECT_EQ(run.ends, 1);
}

TEST(SearchWorker, NoHandOffAfterStop)
{
    OptionCache cache;
    for (const unsigned threads : {1u, 2u}) {
        Walk run;
        TObjSearch search(cache.dir.folder(), 0, 0, nameContains("doc"), big5(), {});
        search.ScanThreads = threads;
        search.ChunkEntries = 1;
        search.OnHit = [&](TObjSearch &s) {
            run.events.push_back(s.CurItem().name().data());
            s.Terminate(); // the Stop button, pressed while the first row is added
        };
        search.OnEnd = [&](TObjSearch &) { ++run.ends; };
        search.Start();
        search.WaitFor();
        EXPECT_EQ(run.events.size(), 1u);
        EXPECT_EQ(run.ends, 1);
    }
}

TEST(SearchWorker, UnreadableNodeListEndsTheWalkWithOneEnd)
{
    TempDir root;
    const std::string top = root.folder();
    writeNodeList(top, {makeNode("a", "a", indexedKind()), makeNode("bad", "bad", containerKind(), 0),
                        makeNode("late", "late", containerKind(), 0)});
    IndexPairWriter w;
    w.addDirectory("\\\\a\\", {fileEntry("a.doc", 1)});
    w.write(top, "a", big5());
    // A node list that exists but cannot be opened (a socket file, which even root cannot read).
    std::filesystem::create_directories(root.path() / "bad");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (root.path() / "bad" / "ALL.NOD").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(sock);
    writeNodeList(top + "late/", {makeNode("l", "l", indexedKind())});
    w.write(top + "late/", "l", big5());

    const Walk run = runSearch(top, nameContains("doc"), 0, 0);
    EXPECT_EQ(hitNames(run), std::vector<std::string> {"\\\\a\\a.doc"});
    EXPECT_EQ(run.ends, 1);
    EXPECT_FALSE(run.error.empty());
}

TEST(SearchWorker, MissingPairsAndFoldersAreSkippedSilently)
{
    TempDir root;
    writeNodeList(root.folder(), {makeNode("gone", "gone", indexedKind()), makeNode("none", "none", containerKind()),
                                  makeNode("up", "..", containerKind())});
    const Walk run = runSearch(root.folder(), nameContains("doc"), 0, 0);
    EXPECT_TRUE(run.events.empty());
    EXPECT_EQ(run.ends, 1);
    EXPECT_TRUE(run.error.empty());
}

TEST_P(SearchReading, Big5TrailBytesAreNeitherLettersNorBackslashes)
{
    TempDir root;
    IndexPairWriter w;
    // 許 and 功 end in 0x5C, 告 in 'i'. A long folder path puts the cut of the 255-byte name
    // in the middle of a two-byte character.
    const std::string longDir = "\\\\PC\\s\\" + std::string(240, 'x') + "\\";
    // 計 ends in 'p': "ort" after it is no "port", and a later one in the name still is.
    w.addDirectory("\\\\PC\\s\\", {fileEntry(b5("許功.doc"), 1), fileEntry(b5("告示.txt"), 2), fileEntry("a\\b.txt", 3),
                                 fileEntry(b5("計ort.txt"), 5), fileEntry(b5("計ort報port.doc"), 6)});
    w.addDirectory(longDir, {fileEntry(b5("報告許功蓋.doc"), 4)});
    w.write(root.folder(), "s", big5());
    writeNodeList(root.folder(), {makeNode("s", "s", indexedKind())});

    EXPECT_EQ(hitNames(runSearch(root.folder(), nameContains("\\"), 0, 0)),
              std::vector<std::string> {"\\\\PC\\s\\a\\b.txt"});
    EXPECT_TRUE(hitNames(runSearch(root.folder(), nameContains("I"), 0, 0)).empty());
    EXPECT_EQ(hitNames(runSearch(root.folder(), nameContains("port"), 0, 0)),
              std::vector<std::string> {"\\\\PC\\s\\計ort報port.doc"});
    EXPECT_EQ(hitNames(runSearch(root.folder(), nameContains("功.DOC"), 0, 0)),
              std::vector<std::string> {"\\\\PC\\s\\許功.doc"});

    const Walk cut = runSearch(root.folder(), nameContains("報告"), 0, 0);
    ASSERT_EQ(hitNames(cut).size(), 1u);
    const std::string name = hitNames(cut)[0];
    EXPECT_EQ(name, big5().toUtf8(longDir) + "報告許"); // 248 + 6 bytes; 功 would pass 255
    EXPECT_EQ(name.find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(SearchWorker, BatchedHitsKeepOrderCountsAndNodes)
{
    TempDir root;
    generateSynthCache(root.path(), SynthCacheSpec::sized(4000, 300, 5));
    const TCompInfos conds = nameContains("a");
    const Walk single = runSearch(root.folder(), conds, 0, 0);
    ASSERT_GT(single.events.size(), 100u);

    for (const unsigned threads : {1u, 2u}) {
        Walk batched;
        int batches = 0;
        runSearch(root.folder(), conds, 0, 0, threads, 64, [&](TObjSearch &s) {
            s.HitBatchSize = 7;
            s.OnHit = nullptr;
            s.OnHits = [&](TObjSearch &sender, const std::vector<TObjSearch::THit> &hits) {
                ++batches;
                EXPECT_LE(hits.size(), 7u);
                for (const TObjSearch::THit &h : hits)
                    batched.events.push_back(hitText(h.Item, h.FileCount, h.FolderCount) + " @" + sender.CurNodeName());
            };
            s.OnNode = [&](TObjSearch &sender) {
                batched.events.push_back(
                        fmt::format("node {} {}/{}", sender.CurNodeName(), sender.FileCount(), sender.FolderCount()));
            };
        });
        EXPECT_EQ(batched.events, single.events);
        EXPECT_GT(batches, 10);
    }
}

TEST(SearchWorker, LaunchedWorkerFreesItselfAfterTheEnd)
{
    OptionCache cache;
    auto freed = std::make_shared<std::promise<void>>();
    std::future<void> gone = freed->get_future();
    std::promise<int> ended;
    auto search = std::make_unique<TObjSearch>(cache.dir.folder(), 0, 0, nameContains("doc"), big5(),
                                               TObjSearch::Synchronizer {});
    // The handler holds the only other reference; it is released when the worker is freed.
    std::shared_ptr<void> guard(nullptr, [freed](void *) { freed->set_value(); });
    int hits = 0;
    search->OnHit = [&hits, guard](TObjSearch &) { ++hits; };
    search->OnEnd = [&](TObjSearch &) { ended.set_value(hits); };
    guard.reset();
    TObjSearch::Launch(std::move(search));
    EXPECT_EQ(ended.get_future().get(), 8);
    gone.wait();
}

namespace {

// The walk as plainly as it can be written: one thread, node lists and index pairs read with
// the shared cursors, every entry tested with MatchItem.
class ReferenceWalk
{
public:
    ReferenceWalk(const TCompInfos &conds, int32_t options, int32_t minHits)
        : m_conds(prepareConditions(conds, big5()))
        , m_options(options)
        , m_minHits(minHits)
    {
    }

    std::vector<std::string> run(const std::string &folder)
    {
        walkFolder(folder);
        return m_events;
    }

private:
    void walkFolder(const std::string &folder)
    {
        TNodeList nodes;
        ReadNodeList(folder, nodes, false, big5());
        for (const TNodeData &node : nodes)
            if (node.has(nkIndexed) && node.cacheOn())
                walkNode(folder, node.CacheName);
        for (const TNodeData &node : nodes)
            if (node.has(nkContainer))
                walkFolder(cacheFolder(cacheFilePath(folder, node.CacheName, "", big5())));
    }

    void walkNode(const std::string &folder, const std::string &name)
    {
        const std::optional<IndexPair> pair = readIndexPair(folder, name, big5());
        if (!pair)
            return;
        m_events.push_back(fmt::format("node {} {}/{}", name, m_files, m_folders));
        bool skipping = false;
        std::string skipPath;
        IdxCursor dirs(pair->idx.data(), pair->idx.size());
        DirRecord dir;
        while (dirs.next(dir)) {
            if (skipping) {
                if (big5().find(dir.path, skipPath) != std::string::npos)
                    continue;
                skipping = false;
            }
            int hits = 0;
            LstCursor entries(pair->lst.data(), pair->lst.size(), dir);
            EntryView e;
            while (entries.next(e)) {
                TItemData item;
                item.Size = e.size;
                item.Attr = e.attr;
                item.Time = e.time;
                item.setName(e.name);
                item.isDirectory() ? ++m_folders : ++m_files;
                if ((m_options & soOnlyFolderName) && !item.isDirectory())
                    continue;
                if (!MatchItem(m_conds, item, big5()))
                    continue;
                ++hits;
                if (!(m_options & soOnlyShowFolder)) {
                    item.setName(dir.path, e.name);
                    m_events.push_back(hitText(item, m_files, m_folders) + " @" + name);
                    if (m_options & soHitNoFind) {
                        skipping = true;
                        skipPath = dir.path;
                    }
                    if (m_options & soHitExclusive)
                        break;
                } else {
                    if ((m_options & soHitNum) && hits < m_minHits)
                        continue;
                    item.Size = 0;
                    item.Attr = 0x10;
                    item.setName(RemoveBackslash(dir.path, big5()));
                    m_events.push_back(hitText(item, m_files, m_folders) + " @" + name);
                    if (m_options & soHitNoFind) {
                        skipping = true;
                        skipPath = dir.path;
                    }
                    break;
                }
            }
        }
    }

    TCompInfos m_conds;
    int32_t m_options;
    int32_t m_minHits;
    int64_t m_files = 0;
    int64_t m_folders = 0;
    std::vector<std::string> m_events;
};

// Rewrites every .IDX under root with its directory records in reverse order, so that the
// scan jumps backwards through the .LST, as a foreign collector's files may make it.
void reverseDirectoryRecords(const std::filesystem::path &root)
{
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.path().extension() != ".IDX")
            continue;
        const std::string bytes = readFile(entry.path());
        const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
        IdxCursor dirs(data, bytes.size());
        DirRecord dir;
        std::vector<std::string> records;
        size_t at = 0;
        while (dirs.next(dir)) {
            records.push_back(bytes.substr(at, dirs.position() - at));
            at = dirs.position();
        }
        std::string reversed;
        for (auto r = records.rbegin(); r != records.rend(); ++r)
            reversed += *r;
        writeFile(entry.path(), reversed);
    }
}

// Damages the index pairs under root as a crash, a full disk or a stray write leaves them:
// files cut short, bytes overwritten (counts, lengths, offsets), a file gone.
void damageIndexPairs(const std::filesystem::path &root, std::mt19937 &rng)
{
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.path().extension() == ".IDX" || entry.path().extension() == ".LST")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path &file : files) {
        std::string bytes = readFile(file);
        switch (rng() % 4) {
        case 0:
            bytes.resize(bytes.empty() ? 0 : rng() % bytes.size());
            break;
        case 1:
            for (int i = 0; i < 8 && !bytes.empty(); ++i)
                bytes[rng() % bytes.size()] = char(rng() % 2 ? 0xFF : rng());
            break;
        case 2:
            if (rng() % 3 == 0) {
                std::filesystem::remove(file);
                continue;
            }
            break;
        default:
            break; // left whole
        }
        writeFile(file, bytes);
    }
}

} // namespace

TEST_P(SearchReading, AgreesWithAPlainWalkOnRandomCaches)
{
    std::mt19937 rng(11);
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        TempDir root;
        SynthCacheSpec spec;
        spec.entries = 3000;
        spec.folders = 400;
        spec.nodes = 7;
        spec.chineseNames = 0.3;
        spec.cacheOffShare = 0.2;
        spec.containerShare = 0.3;
        spec.seed = seed;
        generateSynthCache(root.path(), spec);
        if (seed == 4)
            reverseDirectoryRecords(root.path());
        if (seed == 5)
            damageIndexPairs(root.path(), rng);
        const std::vector<TCompInfos> searches = {
                nameContains("a"), nameContains("報告"), nameContains("doc"), nameContains("_2"),
                [] {
                    TCompInfos c;
                    c[0] = {clAnd, cfSize, coGreater, "1"};
                    CheckConditions(c);
                    return c;
                }(),
                [] {
                    TCompInfos c;
                    c[0] = {clAnd, cfDate, coLess, "2001/1/1"};
                    CheckConditions(c);
                    return c;
                }(),
                [] {
                    TCompInfos c = nameContains("e");
                    c[1] = {clOr, cfExt, coEquals, "txt"};
                    c[2] = {clAndNot, cfSize, coGreater, "100"};
                    CheckConditions(c);
                    return c;
                }()};
        for (const TCompInfos &conds : searches) {
            for (int round = 0; round < 6; ++round) {
                const int32_t options = int32_t(rng() % 64) & ~1;
                const int32_t minHits = (options & soHitNum) ? int32_t(rng() % 4) : 0;
                const std::vector<std::string> expected = ReferenceWalk(conds, options, minHits).run(root.folder());
                for (const unsigned threads : {1u, 2u, 3u}) {
                    // Windows so small that most entries straddle a refill, and the default.
                    const size_t window = rng() % 2 ? 1 + rng() % 300 : LstWindow::kDefaultCapacity;
                    const Walk walk = runSearch(root.folder(), conds, options, minHits, threads, 1 + rng() % 200,
                                                [window](TObjSearch &s) { s.WindowBytes = window; });
                    ASSERT_EQ(walk.events, expected)
                            << "seed " << seed << " options " << options << " threads " << threads << " window " << window;
                    EXPECT_EQ(walk.ends, 1);
                }
            }
        }
    }
}

// Scanners outlive their searches with their threads; a child of fork() has none of those
// threads and must not wait for them.
TEST(SearchWorker, AChildOfForkSearchesOnThreadsOfItsOwn)
{
    TempDir root;
    generateSynthCache(root.path(), SynthCacheSpec::sized(20000, 500, 3));
    const Walk before = runSearch(root.folder(), nameContains("re"), 0, 0, 2, 500);
    ASSERT_GT(before.events.size(), 10u);
    const pid_t child = fork();
    if (child == 0) {
        alarm(30); // a child that waits for its parent's threads ends here
        const Walk walk = runSearch(root.folder(), nameContains("re"), 0, 0, 2, 500);
        _exit(walk.events == before.events && walk.ends == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // And the parent's kept scanner still serves.
    EXPECT_EQ(runSearch(root.folder(), nameContains("re"), 0, 0, 2, 500).events, before.events);
}

TEST_P(SearchReading, LargeNodesReadAndScannedInPartsGiveTheSameWalk)
{
    TempDir root;
    SynthCacheSpec spec = SynthCacheSpec::sized(60000, 2000, 3);
    spec.largestNodeShare = 0.8; // one node of many chunks and many windows
    generateSynthCache(root.path(), spec);
    for (const int32_t options : {0, int32_t(soHitNoFind), int32_t(soOnlyShowFolder | soHitNum)}) {
        const Walk single = runSearch(root.folder(), nameContains("re"), options, 2);
        ASSERT_GT(single.events.size(), 3u);
        for (const unsigned threads : {2u, 4u}) {
            const Walk parallel = runSearch(root.folder(), nameContains("re"), options, 2, threads, 500);
            EXPECT_EQ(parallel.events, single.events) << options << " " << threads;
            EXPECT_EQ(parallel.files, single.files);
        }
    }
}

// A damaged or missing pair costs the search only that node, on any number of threads: the
// scan stays inside the node's buffers, allocates no more than the format allows, walks as the
// plain walk does, and names the node.
TEST_P(SearchReading, DamagedPairsAreScannedSafelyAndNamed)
{
    struct Case
    {
        const char *what;
        std::function<void(const std::filesystem::path &idx, const std::filesystem::path &lst)>
                damage;
        std::optional<PairState> state;
    };
    const std::vector<Case> cases = {
            {"record longer than the index",
                    [](auto &idx, auto &) {
                        // Count 16384, a path of 64 bytes of which 4 are there: 14 bytes in all.
                        writeFile(idx, std::string("\0\0\0\0\0\x40\0\0\x40\0abcd", 14));
                    },
                    PairState::Damaged},
            {"a thousand folders claiming all the list's entries",
                    [](auto &idx, auto &) {
                        std::string records;
                        for (int i = 0; i < 1000; ++i)
                            records += std::string("\0\0\0\0\xFF\xFF\xFF\x7F\x03\0x\\\0", 13);
                        writeFile(idx, records);
                    },
                    std::nullopt},
            {"a name that fills its 65535-byte field without a NUL",
                    [](auto &idx, auto &lst) {
                        writeFile(idx, std::string("\0\0\0\0\1\0\0\0\x08\0\\\\PC\\s\\\0", 18));
                        writeFile(lst, std::string("\1\0\0\0\x20\0\0\0\0\0\0\0\0\0\0\0\xFF\xFF", 18)
                                        + std::string(0xFFFF, 'a'));
                    },
                    std::nullopt},
            {"list cut short",
                    [](auto &, auto &lst) {
                        resizeFile(lst, 40);
                    },
                    PairState::Damaged},
            {"sparse index of 200 GiB",
                    [](auto &idx, auto &) {
                        resizeFile(idx, uint64_t(200) << 30);
                    },
                    PairState::Unreadable},
            {"list missing",
                    [](auto &, auto &lst) {
                        std::filesystem::remove(lst);
                    },
                    PairState::Missing},
            // Last: the scanners keep their buffers, which would hide a read past a smaller one.
            {"whole", [](auto &, auto &) {}, std::nullopt},
    };
    for (const Case &c : cases) {
        TempDir root;
        IndexPairWriter w;
        w.addDirectory("\\\\PC\\s\\", {fileEntry("a1", 1), dirEntry("sub"), fileEntry("a2", 2)});
        w.addDirectory("\\\\PC\\s\\sub\\", {fileEntry("a3", 3), fileEntry("b", 4)});
        // The damaged node first: its buffers are then its own size, not left over from another.
        for (const char *name : {"hurt", "next", "last"})
            w.write(root.folder(), name, big5());
        writeNodeList(root.folder(),
                {makeNode("hurt", "hurt", indexedKind()), makeNode("next", "next", indexedKind()),
                        makeNode("last", "last", indexedKind())});
        c.damage(root.path() / "hurt.IDX", root.path() / "hurt.LST");
        for (const int32_t options : {0, int32_t(soHitNoFind)}) {
            const std::vector<std::string> expected =
                    ReferenceWalk(nameContains("a"), options, 0).run(root.folder());
            for (const unsigned threads : {1u, 2u}) {
                std::vector<TObjSearch::TNodeProblem> problems;
                const Walk walk = runSearch(root.folder(), nameContains("a"), options, 0, threads,
                        1, [&](TObjSearch &s) {
                            s.OnEnd = [&](TObjSearch &sender) {
                                problems = sender.NodeProblems();
                            };
                        });
                EXPECT_EQ(walk.events, expected) << c.what << " " << threads;
                EXPECT_GE(walk.events.size(), 6u) << c.what; // the other nodes' nodes and hits
                ASSERT_EQ(problems.size(), c.state ? 1u : 0u) << c.what << " " << threads;
                if (c.state) {
                    EXPECT_EQ(problems[0].CacheName, "hurt");
                    EXPECT_EQ(problems[0].Folder, root.folder());
                    EXPECT_EQ(problems[0].State, *c.state) << c.what;
                }
            }
        }
    }
}

std::string readingName(const testing::TestParamInfo<Reading> &info)
{
    switch (info.param) {
    case Reading::KeptAvx2:
        return "KeptAvx2";
    case Reading::KeptSse2:
        return "KeptSse2";
    default:
        return "Files";
    }
}

INSTANTIATE_TEST_SUITE_P(, SearchReading,
        testing::Values(Reading::Files, Reading::KeptAvx2, Reading::KeptSse2), readingName);
