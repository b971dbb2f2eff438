// The main window's keyboard and its results as you type.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

#include "cache/myutils.h"
#include "widgets/enhlistview.h"
#include "window/findanimation.h"
#include "window/historypage.h"
#include "window/hitpaths.h"
#include "window/mainform.h"
#include "window/searchpage.h"
#include "window/typingsearch.h"

namespace veltrano {

void TMainForm::createShortcuts()
{
    struct Shortcut
    {
        const char *name;
        QKeySequence keys;
        QWidget *scope;
        void (TMainForm::*handler)();
    };
    // The copy keys belong to the result list alone: in a key box they copy its text.
    const Shortcut shortcuts[] = {
            {"SaveResultsAction", QKeySequence(Qt::CTRL | Qt::Key_S), this, &TMainForm::N3Click},
            {"SearchAgainAction", QKeySequence(Qt::Key_F5), this, &TMainForm::BitBtn1Click},
            {"StopAction", QKeySequence(Qt::Key_Escape), this, &TMainForm::BitBtn2Click},
            {"FirstKeyAction", QKeySequence(Qt::CTRL | Qt::Key_L), this, nullptr},
            {"CopyPathsAction", QKeySequence(Qt::CTRL | Qt::Key_C), m_listView, nullptr},
            {"CopyReachablePathsAction", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), m_listView,
                    nullptr},
    };
    for (const Shortcut &shortcut : shortcuts) {
        auto *action = new QAction(shortcut.scope);
        action->setObjectName(QLatin1String(shortcut.name));
        action->setShortcut(shortcut.keys);
        action->setShortcutContext(
                shortcut.scope == this ? Qt::WindowShortcut : Qt::WidgetWithChildrenShortcut);
        shortcut.scope->addAction(action);
        const auto handler = shortcut.handler;
        const QString name = action->objectName();
        connect(action, &QAction::triggered, this, [this, handler, name] {
            try {
                if (handler)
                    (this->*handler)();
                else if (name == QLatin1String("FirstKeyAction"))
                    focusFirstKeyBox();
                else
                    copyHitPaths(name == QLatin1String("CopyReachablePathsAction"));
            } catch (const std::exception &) {
                // A key must not take the event loop down; the handlers report their own faults.
            }
        });
    }
}

QAction *TMainForm::shortcutAction(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void TMainForm::focusFirstKeyBox()
{
    m_pages->setCurrentWidget(m_searchPage);
    QComboBox *box = m_searchPage->textBox(0);
    box->setFocus(Qt::ShortcutFocusReason);
    if (box->lineEdit())
        box->lineEdit()->selectAll();
}

void TMainForm::copyHitPaths(bool reachableForm)
{
    const std::vector<int> rows = m_listView->selectedRows();
    if (rows.empty())
        return;
    QApplication::clipboard()->setText(hitPathsText(*m_listView->model(), rows,
            reachableForm ? HitPathForm::Reachable : HitPathForm::Unc, m_shares));
}

void TMainForm::nameControlsForAssistiveTech()
{
    const QString rowNames[] = {tr("條件一"), tr("條件二"), tr("條件三")};
    for (int row = 0; row < int(kConditionRows); ++row) {
        const QString &name = rowNames[row];
        if (QComboBox *logic = m_searchPage->logicBox(row))
            logic->setAccessibleName(name + tr(" 邏輯"));
        m_searchPage->fieldBox(row)->setAccessibleName(name + tr(" 欄位"));
        m_searchPage->opBox(row)->setAccessibleName(name + tr(" 運算"));
        m_searchPage->textBox(row)->setAccessibleName(name + tr(" 關鍵字"));
    }
    m_listView->reportView()->setAccessibleName(tr("搜尋結果"));
    m_listView->iconView()->setAccessibleName(tr("搜尋結果"));
    m_historyPage->listView()->reportView()->setAccessibleName(tr("搜尋歷史"));
    m_historyPage->listView()->iconView()->setAccessibleName(tr("搜尋歷史"));
    // Marks of the on-line walk, by state image: red cross, green tick, question mark.
    m_listView->model()->setStateTexts({tr("離線"), tr("在線上"), tr("狀態不明")});
    // The animation is the only sign of a running search that is not words.
    m_animate->setAccessibleName(tr("搜尋動畫"));
    m_animate->setToolTip(tr("轉動時表示正在搜尋"));
}

void TMainForm::createTypingSearch()
{
    m_typing = new TTypingSearch(this);
    for (int row = 0; row < int(kConditionRows); ++row)
        m_typing->watch(m_searchPage->textBox(row));
    m_typing->setEnabledWhen([this] {
        return typingSearchAllowed();
    });
    connect(m_typing, &TTypingSearch::due, this, [this] {
        try {
            typedSearchDue();
        } catch (const std::exception &) { }
    });
}

bool TMainForm::typingSearchAllowed() const
{
    // A remote search server would receive a search for every pause in typing.
    return m_setup.SearchAsYouType != 0 && !m_remoteMode;
}

void TMainForm::typedSearchDue()
{
    if (!typingSearchAllowed())
        return;
    if (m_searching) {
        // The newest text wins; a confirmed search that waits goes first all the same.
        if (m_pending != PendingSearch::Confirmed)
            m_pending = PendingSearch::Typed;
        if (m_worker)
            m_worker->Terminate();
        return;
    }
    startTypedSearch();
}

void TMainForm::startTypedSearch()
{
    if (!typingSearchAllowed() || m_searching)
        return;
    TCompInfos conds = m_conds;
    m_searchPage->readConditions(conds);
    try {
        CheckConditions(conds);
    } catch (const std::exception &) {
        // A half-typed key is no fault worth a message; rows of an older text would mislead.
        if (m_typedRows)
            BitBtn3Click();
        m_typedRows = false;
        m_panel0->clear();
        return;
    }
    m_conds = conds;
    int32_t minHits = 0;
    const int32_t options = searchOptions(minHits);
    try {
        const std::string startFolder = m_searchPage->locationIndex() <= 0
                ? m_cacheRoot
                : startFolderOf(m_cacheRoot, m_searchPage->locationText());
        // The list shows the hits of the text in the box, whatever "搜尋前先清理" says.
        BitBtn3Click();
        m_panel0->clear();
        m_animate->setActive(true);
        m_searching = true;
        m_typedSearch = true;
        m_typedRows = true;
        startLocalSearch(startFolder, options, minHits);
    } catch (const std::exception &) {
        m_animate->setActive(false);
        m_searching = false;
        m_typedSearch = false;
    }
}

bool TMainForm::deferBehindTypedSearch()
{
    m_typing->cancel();
    if (!m_searching || !m_typedSearch)
        return false;
    m_pending = PendingSearch::Confirmed;
    if (m_worker)
        m_worker->Terminate();
    return true;
}

void TMainForm::takeOverTypedRows()
{
    m_typing->cancel();
    if (m_typedRows)
        BitBtn3Click();
    m_typedRows = false;
    m_typedSearch = false;
}

void TMainForm::startPendingSearch()
{
    m_typedSearch = false;
    if (m_pending == PendingSearch::None)
        return;
    // Not from inside the end handler: the ending worker still waits for it to return.
    QTimer::singleShot(0, this, [this] {
        const PendingSearch pending = m_pending;
        m_pending = PendingSearch::None;
        try {
            if (pending == PendingSearch::Typed)
                startTypedSearch();
            else if (pending == PendingSearch::Confirmed)
                BitBtn1Click();
        } catch (const std::exception &) { }
    });
}

void TMainForm::stopTyping()
{
    m_typing->cancel();
    m_pending = PendingSearch::None;
}

} // namespace veltrano
