#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrano {

// One row of the download queue. Rows are started one at a time by the queue timer; a row's
// job runs through the engine like any other download.
enum class RowState {
    Ready,
    Working,
    Done,
    Failed
};

struct QueueRow
{
    std::string remote; // server path, code-page bytes
    bool folder = false;
    uint32_t size = 0; // bytes (the drag text carries KB)
    std::string local; // target path, UTF-8: download folder + last component
    RowState state = RowState::Ready;
    double time = 0; // last change
    int tries = 0; // attempts started
    std::string message;
};

// The row's image: 0 running, 1 waiting, 2 done, 3 failed.
int rowImage(RowState state);
// "準備", "工作", "完成", "失敗".
const char *rowStateText(RowState state);
// The size column: bytes in decimal, or "DIR".
std::string rowSizeText(const QueueRow &row);

class QueueRows
{
public:
    std::vector<QueueRow> rows;

    // The row the timer starts next: among the rows not done, the first with the smallest try
    // count that is still within `tryCount`, so 0 allows one attempt and 3 allows four.
    std::optional<size_t> pickNext(int tryCount) const;
    // The end of the running row's job: the first working row becomes failed or done.
    void finishRunning(uint32_t doneCount, uint32_t failCount, double now);
    // Back to waiting with no tries, unless the row is running.
    void renew(size_t index, double now);
};

} // namespace veltrano
