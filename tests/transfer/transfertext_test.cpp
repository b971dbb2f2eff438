// The texts of the transfer display, local names taken from server paths, and the queue's rule.
#include <gtest/gtest.h>

#include "transfer/queuerows.h"
#include "transfer/transfertext.h"

namespace veltrano {
namespace {

TEST(TransferText, SizeCountAndSpeedTextsChangeUnitAtTheirBounds)
{
    const struct
    {
        int64_t value;
        const char *size, *count;
    } cases[] = {
            {1023, "0KB", "1023B"},
            {1024, "1KB", "1.00KB"},
            {1048575, "1023KB", "1024.00KB"},
            {1048576, "1024KB", "1.00MB"},
            {1048577, "1MB", "1.00MB"},
            {5 * 1048576 + 1, "5MB", "5.00MB"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(transferSizeText(uint32_t(c.value)), c.size) << c.value;
        EXPECT_EQ(transferCountText(c.value), c.count) << c.value;
    }
    EXPECT_EQ(transferSpeedText(1024), ",1024B/S");
    EXPECT_EQ(transferSpeedText(1025), ",1K/S");
    EXPECT_EQ(transferSpeedText(10 * 1024 + 1023), ",10K/S");
}

TEST(TransferText, LocalNamesNeverLeaveTheTargetFolder)
{
    const CodePage cp("CP950");
    const std::string gong = "\xA5\\"; // 功: its trail byte is a backslash
    const struct
    {
        std::string remote;
        std::optional<std::string> local;
    } cases[] = {
            {"\\\\PC\\share\\a.txt", "a.txt"},
            {"\\\\PC\\share\\dir\\", "dir"},
            {"/pub/dir/", "dir"},
            {"\\\\PC\\" + gong, "功"},
            {"\\\\PC\\" + gong + "\\x", "x"},
            {"\\\\PC\\..", std::nullopt},
            {"\\\\PC\\.\\", std::nullopt},
            {"a/../..", std::nullopt},
            {"", std::nullopt},
            {std::string("a\0b", 3), std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(localNameOf(c.remote, cp), c.local) << c.remote;
}

TEST(TransferText, DragEntriesRoundTripAndBadSizesReadAsZero)
{
    const DragEntry file{false, "\\\\PC1\\pub\\a.zip", 120};
    const auto back = parseDragEntry(formatDragEntry(file));
    ASSERT_TRUE(back);
    EXPECT_EQ(formatDragEntry(file), "F\\\\PC1\\pub\\a.zip<120");
    EXPECT_EQ(back->path, file.path);
    EXPECT_EQ(back->sizeKb, 120u);
    EXPECT_FALSE(back->folder);
    const auto folder = parseDragEntry("D\\\\PC1\\pub<");
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->folder);
    EXPECT_EQ(folder->sizeKb, 0u);
    EXPECT_EQ(parseDragEntry("F\\\\PC\\a<12x")->sizeKb, 0u);
    EXPECT_FALSE(parseDragEntry("F\\\\PC\\a"));
    EXPECT_FALSE(parseDragEntry("F<1"));
}

// A try count of 0 still allows one attempt, 3 allows four; failed rows stay eligible until
// then, ties go to the upper row, done rows are never taken again.
TEST(QueueRows, TryCountAllowsOneAttemptMoreThanItsValue)
{
    for (const int tryCount : {0, 3}) {
        QueueRows queue;
        queue.rows.resize(1);
        int attempts = 0;
        while (const auto next = queue.pickNext(tryCount)) {
            queue.rows[*next].state = RowState::Working;
            ++queue.rows[*next].tries;
            queue.finishRunning(0, 1, 0);
            ASSERT_LT(++attempts, 10);
        }
        EXPECT_EQ(attempts, tryCount + 1);
        EXPECT_EQ(queue.rows[0].state, RowState::Failed);
        EXPECT_EQ(queue.rows[0].message, "GET 0, FAIL 1");
        queue.renew(0, 0);
        EXPECT_EQ(queue.pickNext(tryCount), 0u) << "a renewed row starts again";
    }
    QueueRows queue;
    queue.rows.resize(3);
    EXPECT_EQ(queue.pickNext(3), 0u);
    queue.rows[0].tries = 1;
    EXPECT_EQ(queue.pickNext(3), 1u) << "the fewest tries first";
    queue.rows[1].state = queue.rows[2].state = RowState::Done;
    EXPECT_EQ(queue.pickNext(3), 0u);
    queue.rows[0].state = RowState::Done;
    EXPECT_FALSE(queue.pickNext(3));
}

} // namespace
} // namespace veltrano
