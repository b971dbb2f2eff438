#pragma once

#include <functional>

#include <QObject>
#include <QTimer>

class QComboBox;

namespace veltrano {

// Watches the key boxes for what the user types and announces, once typing has paused, that
// the list should follow. Only the user's own edits count: texts the window puts into the
// boxes (a recalled history entry, the recent-texts list after a search) are not typing.
class TTypingSearch : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPauseMs = 150;

    explicit TTypingSearch(QObject *parent = nullptr);

    // Follows the user's edits of `box` (an editable combo box) and the recent texts the
    // user picks from its drop-down list.
    void watch(QComboBox *box);
    // Whether edits count at all (the option, and the search running on this machine);
    // asked at every edit, so a change of the option takes effect at once.
    void setEnabledWhen(std::function<bool()> enabled) { m_enabled = std::move(enabled); }
    // Forgets an edit still waiting for its pause (the user confirmed or stopped).
    void cancel() { m_pause.stop(); }
    bool pending() const { return m_pause.isActive(); }

signals:
    // The user typed and then paused for kPauseMs: the results should follow the boxes.
    void due();

private:
    void edited();

    QTimer m_pause;
    std::function<bool()> m_enabled;
};

} // namespace veltrano
