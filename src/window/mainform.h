#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QMainWindow>
#include <QPoint>
#include <QTimer>

#include "cache/myutils.h"
#include "search/compare.h"
#include "search/objsearch.h"
#include "store/commoninfo.h"
#include "store/searchhistory.h"
#include "store/setupinfo.h"
#include "util/codepage.h"
#include "widgets/fileicons.h"
#include "widgets/images.h"
#include "window/hintform.h"
#include "window/shellopen.h"

class QAbstractItemView;
class QAction;
class QMouseEvent;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;

namespace veltrano {

class ResultIntake;
class TAnimate;
class TEnhListView;
class TFontDialog;
class TDropFileSource;
class TFormPosSaver;
class TFtpForm;
class THintForm;
class THistoryPage;
class TPing;
class TOptionsPage;
class TSearchPage;
class TTypingSearch;

// The search window: the pages "名稱及位置", "條件選項" and "歷史", the panel with the search
// animation and the buttons 搜尋, 停止 and 清理, the result list and the two-panel status bar.
// The settings records belong to the caller, which loads them before and saves them after the
// window's life; the window reads and writes their fields as the user works.
class TMainForm : public QMainWindow
{
    Q_OBJECT

public:
    // programFolder: native, ending with '/'; the cache is its "Cache/" folder.
    TMainForm(TSetupInfo &setup, TCommonInfo &common, std::string programFolder,
            QWidget *parent = nullptr);
    ~TMainForm() override;

    // Fills the window from the settings, the history files and the cache's location lists.
    // Called once after construction, before the window is shown.
    void FormCreate();

    TSearchPage *searchPage() const { return m_searchPage; }
    TOptionsPage *optionsPage() const { return m_optionsPage; }
    THistoryPage *historyPage() const { return m_historyPage; }
    TEnhListView *resultList() const { return m_listView; }
    QTabWidget *pages() const { return m_pages; }
    TFontDialog *fontDialog() const { return m_fontDialog; }
    TAnimate *animation() const { return m_animate; }
    QPushButton *searchButton() const { return m_search; }
    QPushButton *stopButton() const { return m_stop; }
    QPushButton *clearButton() const { return m_clear; }
    QString statusText(int panel) const;
    bool searching() const { return m_searching; }
    const std::string &cacheRoot() const { return m_cacheRoot; }
    const TCompInfos &conditions() const { return m_conds; }
    const TImageList &smallImages() const { return m_smallImages; }
    // Threads that scan the nodes (the worker's ScanThreads); by default the worker's default.
    void setScanThreads(unsigned threads) { m_scanThreads = threads; }
    QMenu *resultMenu() const { return m_resultMenu; }
    THintForm *hintForm() const { return m_hintForm; }
    TDropFileSource *dropSource() const { return m_dropSource; }
    QTimer *pingTimer() { return &m_pingTimer; }
    // The echo of the node check and the on-line marks: one request to the address (dotted or
    // the decimal number form), answering the number of replies. Tests put a fake in its place;
    // an empty function restores the window's echo component.
    using EchoFn = std::function<int(const std::string &address)>;
    void setEcho(EchoFn echo) { m_echo = std::move(echo); }
    // Where 儲存結果 writes without asking (tests); empty asks with the save dialog.
    void setSaveTarget(const QString &path, int format)
    {
        m_saveTarget = path;
        m_saveFormat = format;
    }

    // The node name and the state of the row the on-line walk asked last.
    std::string LastPingName;
    int LastPingState = 0;

    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn7Click();
    void FontDialogApply();
    void RadioButton1Click();
    void RadioButton2Click();
    void O1Click();
    void N1Click();
    void N3Click();
    void N5Click();
    void N7Click();
    void PingTimerTimer();
    void HintTimerTimer();

    // Remote mode: searches, opens and drags go to the search server through the transfer
    // window, which is created at the first entry and kept for the rest of the run.
    bool remoteMode() const { return m_remoteMode; }
    TFtpForm *ftpForm() const { return m_ftpForm; }
    QTimer *downloadTimer() { return &m_downloadTimer; }
    // After the proxy dialog was confirmed: enters or leaves remote mode as the settings say.
    void BitBtn8Click();
    void RemoteFound();
    void RemoteSearchDone();
    void DownloadTimerTimer();

    // The keyboard: the window's shortcuts, and copying the selected hits' paths.
    QAction *shortcutAction(const QString &objectName) const;
    void copyHitPaths(bool reachableForm);
    TTypingSearch *typingSearch() const { return m_typing; }

signals:
    // The search ended and the end handler ran (for tests and scripted use).
    void searchEnded();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createImages();
    void createPages();
    void createPanel();
    void createResultList();
    void createStatusBar();
    // The stored face and size; `family` stands for a face the settings could not store.
    void applyFont(const QString &family = {});
    void startSearch();
    // A minimum size at which every box shows its words and the result list some rows.
    void keepControlsUsable();
    void buildLocationList();
    void recallHistory(const RecalledRows &rows);
    void showRecentTexts();
    // The option bits of the options page, and the hits a folder needs with soHitNum.
    int32_t searchOptions(int32_t &minHits) const;
    void startLocalSearch(const std::string &startFolder, int32_t options, int32_t minHits);
    void OnHits(TObjSearch &sender, const std::vector<TObjSearch::THit> &hits);
    void OnNode(TObjSearch &sender);
    void OnEnd(TObjSearch &sender);
    void ProxyClick();
    void createResultActions();
    // Asks the node of a result key whether it answers before its files are opened or dragged.
    // False (after message 50111 with `folder` for a silent computer) stops the action.
    bool checkNode(const std::string &resultKey, const QString &folder);
    // The node a result row names, as the cache holds it now; none when it is gone.
    std::optional<TNodeData> loadNodeOf(const std::string &nodeFolder,
            const std::string &nodeName) const;
    int echo(const std::string &address);
    // Opens a data path (UNC, local or mapped) with the desktop's handler on a thread of its own.
    void openPath(const QString &path);
    void waitCursorBriefly();
    void ListViewMouseDown(const QPoint &at);
    void ListViewMouseMove(QMouseEvent *event, QAbstractItemView *view);
    void dragPaths(const QStringList &paths);
    THintRow hintRowOf(int row) const;

    void enterRemoteMode();
    void leaveRemoteMode();
    void createFtpForm();
    // Hands the settings the transfer window reads on its own to it.
    void passDownloadSettings();
    void startRemoteSearch(int32_t options, int32_t minHits);
    void openRemoteRow(int row);
    QStringList dragEntriesOf(const std::vector<int> &rows) const;
    void dragRemoteEntries(const QStringList &entries);

    void createShortcuts();
    void focusFirstKeyBox();
    void nameControlsForAssistiveTech();
    // Results as you type: a search that follows the key boxes, never recorded in the history.
    void createTypingSearch();
    bool typingSearchAllowed() const;
    void typedSearchDue();
    void startTypedSearch();
    // A confirmed search asked for while a typed one runs: stops it and starts when it ended.
    bool deferBehindTypedSearch();
    // A confirmed search replaces the typed search's rows.
    void takeOverTypedRows();
    void startPendingSearch();
    void stopTyping();

    TSetupInfo &m_setup;
    TCommonInfo &m_common;
    std::string m_programFolder;
    std::string m_cacheRoot;
    CodePage m_programCodePage;
    TCompInfos m_conds;
    TObjSearch *m_worker = nullptr;
    bool m_searching = false;
    unsigned m_scanThreads = TObjSearch::DefaultScanThreads();

    TImageList m_locationImages;
    TImageList m_smallImages;
    TExtList m_extList;

    QTabWidget *m_pages = nullptr;
    TSearchPage *m_searchPage = nullptr;
    TOptionsPage *m_optionsPage = nullptr;
    THistoryPage *m_historyPage = nullptr;
    TAnimate *m_animate = nullptr;
    QPushButton *m_search = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_clear = nullptr;
    TEnhListView *m_listView = nullptr;
    std::unique_ptr<ResultIntake> m_intake;
    QLabel *m_panel0 = nullptr;
    QLabel *m_panel1 = nullptr;
    TFontDialog *m_fontDialog = nullptr;
    TFormPosSaver *m_posSaver = nullptr;

    TShareMapping m_shares;
    TImageList m_stateImages;
    QMenu *m_resultMenu = nullptr;
    THintForm *m_hintForm = nullptr;
    TDropFileSource *m_dropSource = nullptr;
    TPing *m_ping = nullptr;
    EchoFn m_echo;
    QTimer m_pingTimer;
    QTimer m_hintTimer;
    QPoint m_hoverPoint;
    QPoint m_pressPoint;
    bool m_pressed = false;
    QPoint m_lastMove;
    bool m_pointerInList = false;
    uint64_t m_listGeneration = 0; // changes whenever the rows are removed
    QString m_saveTarget;
    int m_saveFormat = 0;

    TFtpForm *m_ftpForm = nullptr;
    bool m_remoteMode = false;
    QTimer m_downloadTimer;

    enum class PendingSearch { None, Typed, Confirmed };
    TTypingSearch *m_typing = nullptr;
    bool m_typedSearch = false; // the running search follows typing
    bool m_typedRows = false;   // the rows shown came from typing
    PendingSearch m_pending = PendingSearch::None;
};

} // namespace veltrano
