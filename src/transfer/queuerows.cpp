#include "transfer/queuerows.h"

namespace veltrano {

int rowImage(RowState state)
{
    switch (state) {
    case RowState::Working:
        return 0;
    case RowState::Ready:
        return 1;
    case RowState::Done:
        return 2;
    case RowState::Failed:
        return 3;
    }
    return 1;
}

const char *rowStateText(RowState state)
{
    switch (state) {
    case RowState::Working:
        return "工作";
    case RowState::Ready:
        return "準備";
    case RowState::Done:
        return "完成";
    case RowState::Failed:
        return "失敗";
    }
    return "";
}

std::string rowSizeText(const QueueRow &row)
{
    return row.folder ? std::string("DIR") : std::to_string(row.size);
}

std::optional<size_t> QueueRows::pickNext(int tryCount) const
{
    std::optional<size_t> best;
    for (size_t i = 0; i < rows.size(); ++i) {
        const QueueRow &row = rows[i];
        if (row.state == RowState::Done || row.tries > tryCount)
            continue;
        if (!best || row.tries < rows[*best].tries)
            best = i;
    }
    return best;
}

void QueueRows::finishRunning(uint32_t doneCount, uint32_t failCount, double now)
{
    for (QueueRow &row : rows) {
        if (row.state != RowState::Working)
            continue;
        row.state = failCount > 0 ? RowState::Failed : RowState::Done;
        row.message = "GET " + std::to_string(doneCount) + ", FAIL " + std::to_string(failCount);
        row.time = now;
        return;
    }
}

void QueueRows::renew(size_t index, double now)
{
    if (index >= rows.size() || rows[index].state == RowState::Working)
        return;
    QueueRow &row = rows[index];
    row.state = RowState::Ready;
    row.time = now;
    row.tries = 0;
}

} // namespace veltrano
