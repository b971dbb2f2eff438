#pragma once

#include <memory>
#include <string>

#include <QMainWindow>

#include "store/commoninfo.h"
#include "search/compare.h"
#include "search/objsearch.h"
#include "store/searchhistory.h"
#include "store/setupinfo.h"
#include "util/codepage.h"
#include "widgets/fileicons.h"
#include "widgets/images.h"

class QLabel;
class QPushButton;
class QTabWidget;

namespace veltrano {

class ResultIntake;
class TAnimate;
class TEnhListView;
class TFontDialog;
class TFormPosSaver;
class THistoryPage;
class TOptionsPage;
class TSearchPage;

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

    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn7Click();
    void FontDialogApply();
    void RadioButton1Click();
    void RadioButton2Click();

signals:
    // The search ended and the end handler ran (for tests and scripted use).
    void searchEnded();

protected:
    void closeEvent(QCloseEvent *event) override;

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
    void startLocalSearch(const std::string &startFolder, int32_t options, int32_t minHits);
    void OnHits(TObjSearch &sender, const std::vector<TObjSearch::THit> &hits);
    void OnNode(TObjSearch &sender);
    void OnEnd(TObjSearch &sender);
    void ProxyClick();

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
};

} // namespace veltrano
