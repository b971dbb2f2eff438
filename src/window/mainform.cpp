#include "window/mainform.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include "cache/myutils.h"
#include "util/error.h"
#include "util/resstr.h"
#include "widgets/enhlistview.h"
#include "widgets/msgbox.h"
#include "widgets/possaver.h"
#include "window/findanimation.h"
#include "window/fontdialog.h"
#include "window/historypage.h"
#include "window/optionspage.h"
#include "window/resultlist.h"
#include "window/searchpage.h"

namespace veltrano {
namespace {

constexpr int kPageControlHeight = 178;
constexpr int kPanelWidth = 92;
constexpr int kMinimumListRows = 4;
constexpr const char *kWindowKey = "\\Software\\Calderwick\\Drellmoor\\Veltrano";

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

TMainForm::TMainForm(TSetupInfo &setup, TCommonInfo &common, std::string programFolder, QWidget *parent)
    : QMainWindow(parent)
    , m_setup(setup)
    , m_common(common)
    , m_programFolder(std::move(programFolder))
    , m_cacheRoot(m_programFolder + "Cache/")
    , m_programCodePage(CodePage::programDefault())
{
    m_conds[0].Logic = clAnd;
    setWindowTitle(QStringLiteral("Veltrano"));
    createImages();
    createPages();
    createPanel();
    createResultList();
    createStatusBar();
    m_posSaver = new TFormPosSaver(this);
    m_posSaver->RegKey = kWindowKey;
    m_posSaver->DesignRes = 96;
    resize(606, 512 + statusBar()->sizeHint().height());
}

TMainForm::~TMainForm()
{
    // A window torn down under a running search (never through a user's close) leaves the
    // worker to end on its own; its hand-offs find the window gone.
    if (m_worker)
        m_worker->Terminate();
    // The image lists are members and go before the child lists do; a shown window still
    // measures its rows while it is torn down.
    m_listView->setImages(nullptr);
    m_historyPage->listView()->setImages(nullptr);
}

void TMainForm::createImages()
{
    m_locationImages.add(QIcon(images::network()));
    m_locationImages.add(QIcon(images::computers()));
    m_locationImages.add(QIcon(images::clock()));
    m_smallImages.add(QIcon(images::file()));
    m_smallImages.add(QIcon(images::folder()));
}

void TMainForm::createPages()
{
    m_pages = new QTabWidget;
    m_searchPage = new TSearchPage(&m_locationImages);
    m_optionsPage = new TOptionsPage(m_setup);
    m_historyPage = new THistoryPage(&m_locationImages, m_programCodePage);
    m_pages->addTab(m_searchPage, QStringLiteral("名稱及位置"));
    m_pages->addTab(m_optionsPage, QStringLiteral("條件選項"));
    m_pages->addTab(m_historyPage, QStringLiteral("歷史"));
    m_pages->setFixedHeight(kPageControlHeight);

    connect(m_optionsPage, &TOptionsPage::viewStyleChosen, this, [this](int style) {
        if (style == kViewStyleList)
            RadioButton1Click();
        else
            RadioButton2Click();
    });
    connect(m_optionsPage, &TOptionsPage::fontClicked, this, &TMainForm::BitBtn7Click);
    connect(m_optionsPage, &TOptionsPage::proxyConfirmed, this, &TMainForm::ProxyClick);
    connect(m_historyPage, &THistoryPage::recalled, this, &TMainForm::recallHistory);
    connect(m_historyPage, &THistoryPage::recentTextsChanged, this, &TMainForm::showRecentTexts);
}

void TMainForm::createPanel()
{
    auto *panel = new QWidget;
    panel->setFixedWidth(kPanelWidth);
    auto *column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 4, 0, 4);
    column->setSpacing(6);
    m_animate = new TAnimate(panel);
    m_search = new QPushButton(QStringLiteral("搜尋"), panel);
    m_stop = new QPushButton(QStringLiteral("停止"), panel);
    m_clear = new QPushButton(QStringLiteral("清理"), panel);
    m_search->setDefault(true);
    m_search->setAutoDefault(true);
    m_stop->setAutoDefault(false);
    m_clear->setAutoDefault(false);
    column->addWidget(m_animate, 0, Qt::AlignHCenter);
    column->addSpacing(8);
    for (QPushButton *button : {m_search, m_stop, m_clear})
        column->addWidget(button);
    column->addStretch(1);
    connect(m_search, &QPushButton::clicked, this, &TMainForm::BitBtn1Click);
    connect(m_stop, &QPushButton::clicked, this, &TMainForm::BitBtn2Click);
    connect(m_clear, &QPushButton::clicked, this, &TMainForm::BitBtn3Click);
    connect(m_searchPage, &TSearchPage::searchRequested, m_search, &QPushButton::click);

    // The page control takes the width the panel leaves; the panel keeps 8 pixels to each side.
    auto *top = new QHBoxLayout;
    top->setContentsMargins(4, 4, 8, 0);
    top->setSpacing(8);
    top->addWidget(m_pages, 1);
    top->addWidget(panel);
    auto *central = new QWidget;
    auto *rows = new QVBoxLayout(central);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);
    rows->addLayout(top);
    setCentralWidget(central);
}

void TMainForm::createResultList()
{
    m_listView = new TEnhListView;
    setupResultList(m_listView, &m_smallImages);
    m_listView->Loaded();
    static_cast<QVBoxLayout *>(centralWidget()->layout())->addWidget(m_listView, 1);
    m_intake = std::make_unique<ResultIntake>(m_listView, m_smallImages, m_extList);
}

void TMainForm::createStatusBar()
{
    m_panel0 = new QLabel;
    m_panel1 = new QLabel;
    m_panel0->setFixedWidth(200);
    m_panel1->setMinimumWidth(0);
    m_panel1->resize(409, m_panel1->height());
    statusBar()->addWidget(m_panel0);
    statusBar()->addWidget(m_panel1, 1);
    statusBar()->setSizeGripEnabled(true);
}

void TMainForm::FormCreate()
{
    m_worker = nullptr;
    m_historyPage->load(m_programFolder);
    applyFont();
    m_optionsPage->loadFromSettings();
    if (m_setup.ViewStyle == kViewStyleList)
        RadioButton1Click();
    else
        RadioButton2Click();
    m_searchPage->setStartValues();
    buildLocationList();
    // Searches run on this machine's cache; the remote search server comes with the transfer
    // window, so a stored remote source is not acted on yet.
    m_searching = false;
}

void TMainForm::buildLocationList()
{
    std::vector<std::string> entries;
    try {
        entries = veltrano::buildLocationList(m_cacheRoot, CodePage::forCache(m_cacheRoot));
    } catch (const std::exception &error) {
        entries = {kAllCachedData, "Net", "Expanded"};
        MsgBox(this, error.what(), mkError);
    }
    m_searchPage->setLocations(entries);
}

void TMainForm::applyFont(const QString &family)
{
    QFont font(family.isEmpty() ? qs(m_programCodePage.toUtf8(m_setup.FontName)) : family);
    if (m_setup.FontSize > 0)
        font.setPointSize(m_setup.FontSize);
    setFont(font);
    keepControlsUsable();
}

void TMainForm::keepControlsUsable()
{
    // The layout alone would squeeze the boxes below their words and the list to nothing; the
    // pages keep the width their boxes ask for and the list room for a few rows.
    int pageWidth = m_pages->tabBar()->sizeHint().width();
    for (int i = 0; i < m_pages->count(); ++i)
        pageWidth = std::max(pageWidth, m_pages->widget(i)->sizeHint().width());
    m_pages->setMinimumWidth(pageWidth + 8);
    const QHeaderView *header = m_listView->header();
    m_listView->setMinimumHeight(header->sizeHint().height()
                                 + kMinimumListRows * m_listView->reportView()->fontMetrics().height() * 3 / 2
                                 + 8);
}

QString TMainForm::statusText(int panel) const
{
    return panel == 0 ? m_panel0->text() : m_panel1->text();
}

void TMainForm::showRecentTexts()
{
    for (int row = 0; row < int(kConditionRows); ++row)
        m_searchPage->setRecentTexts(row, m_historyPage->recentTexts(row));
}

void TMainForm::recallHistory(const RecalledRows &rows)
{
    m_searchPage->applyRecall(rows);
    m_pages->setCurrentWidget(m_searchPage);
}

void TMainForm::BitBtn1Click()
{
    try {
        startSearch();
    } catch (const std::exception &error) {
        // A location the file system refuses (too long a name, a link loop) ends here, not in
        // the event loop; nothing has started.
        m_animate->setActive(false);
        m_searching = false;
        MsgBox(this, error.what(), mkError);
    }
}

void TMainForm::startSearch()
{
    if (m_searching) {
        MsgBoxRes(this, kStrStopFirst, mkInformation);
        return;
    }
    m_searchPage->readConditions(m_conds);
    try {
        CheckConditions(m_conds);
    } catch (const std::exception &error) {
        MsgBox(this, error.what(), mkError);
        return;
    }
    const std::string startFolder = m_searchPage->locationIndex() <= 0
                                  ? m_cacheRoot
                                  : startFolderOf(m_cacheRoot, m_searchPage->locationText());
    int32_t options = 0;
    int32_t minHits = 0;
    if (m_setup.OnlyShowFolder)
        options |= soOnlyShowFolder;
    if (m_setup.HitNum) {
        options |= soHitNum;
        minHits = m_setup.HitNumValue;
    }
    if (m_setup.ClearBeforeFind)
        BitBtn3Click();
    if (m_setup.HitNoFind)
        options |= soHitNoFind;
    if (m_setup.HitExclusive)
        options |= soHitExclusive;
    if (m_setup.OnlyFolderName)
        options |= soOnlyFolderName;

    m_historyPage->recordSearch(m_searchPage->displayedTexts());
    m_panel0->clear();
    m_animate->setActive(true);
    m_searching = true;
    startLocalSearch(startFolder, options, minHits);
}

void TMainForm::startLocalSearch(const std::string &startFolder, int32_t options, int32_t minHits)
{
    // The hand-offs run on the window thread while the worker waits. The application object is
    // their context, and the handlers check that the window still exists.
    QPointer<TMainForm> self(this);
    auto synchronize = [](const std::function<void()> &call) {
        QMetaObject::invokeMethod(
            qApp,
            [&call] {
                try {
                    call();
                } catch (...) {
                    // A handler's failure must not reach the event loop; the search goes on.
                }
            },
            Qt::BlockingQueuedConnection);
    };
    auto worker = std::make_unique<TObjSearch>(startFolder, options, minHits, m_conds,
                                               CodePage::forCache(m_cacheRoot), synchronize);
    worker->ScanThreads = m_scanThreads;
    worker->OnHits = [self](TObjSearch &sender, const std::vector<TObjSearch::THit> &hits) {
        if (self)
            self->OnHits(sender, hits);
    };
    worker->OnNode = [self](TObjSearch &sender) {
        if (self)
            self->OnNode(sender);
    };
    worker->OnEnd = [self](TObjSearch &sender) {
        if (self)
            self->OnEnd(sender);
    };
    m_worker = TObjSearch::Launch(std::move(worker));
}

void TMainForm::OnHits(TObjSearch &sender, const std::vector<TObjSearch::THit> &hits)
{
    const CodePage &cp = sender.codePage();
    const std::string key = sender.CurNodeFolder() + cp.toUtf8(sender.CurNodeName());
    for (const TObjSearch::THit &hit : hits)
        m_intake->addHit(hit.Item, sender.CurNodeName(), key, cp);
    m_intake->flushIfDue();
    m_panel0->setText(qs(FmtResStr(kStrItemsFound, std::to_string(m_intake->rowCount()))));
}

void TMainForm::OnNode(TObjSearch &sender)
{
    m_panel1->setText(qs(FmtResStr(kStrFiles, std::to_string(sender.FileCount()))
                         + FmtResStr(kStrFolders, std::to_string(sender.FolderCount()))));
}

void TMainForm::OnEnd(TObjSearch &)
{
    m_intake->flush();
    m_animate->setActive(false);
    m_searching = false;
    m_worker = nullptr;
    m_panel0->setText(qs(FmtResStr(kStrItemsFoundTotal, std::to_string(m_listView->model()->count()))));
    emit searchEnded();
}

void TMainForm::BitBtn2Click()
{
    if (m_worker)
        m_worker->Terminate();
    // The image lists are members and go before the child lists do; a shown window still
    // measures its rows while it is torn down.
    m_listView->setImages(nullptr);
    m_historyPage->listView()->setImages(nullptr);
}

void TMainForm::BitBtn3Click()
{
    m_listView->BeginUpdate();
    m_listView->model()->clear();
    m_listView->EndUpdate();
}

void TMainForm::RadioButton1Click()
{
    m_setup.ViewStyle = kViewStyleList;
    m_listView->setViewStyle(kViewStyleList);
}

void TMainForm::RadioButton2Click()
{
    m_setup.ViewStyle = kViewStyleDetails;
    m_listView->setViewStyle(kViewStyleDetails);
}

void TMainForm::BitBtn7Click()
{
    if (!m_fontDialog) {
        m_fontDialog = new TFontDialog(this);
        connect(m_fontDialog, &TFontDialog::applied, this, &TMainForm::FontDialogApply);
    }
    // Always from the window's own font, whatever the dialog showed last time.
    m_fontDialog->setChoice(qs(m_programCodePage.toUtf8(m_setup.FontName)), m_setup.FontSize);
    if (m_fontDialog->exec() == QDialog::Accepted)
        FontDialogApply();
}

void TMainForm::FontDialogApply()
{
    // A face whose name the settings file cannot hold is used but not stored.
    const std::optional<std::string> name =
        m_programCodePage.fromUtf8(m_fontDialog->chosenFamily().toStdString());
    if (name)
        copyText(m_setup.FontName, *name, m_programCodePage);
    if (m_fontDialog->chosenSize() > 0)
        m_setup.FontSize = m_fontDialog->chosenSize();
    applyFont(m_fontDialog->chosenFamily());
}

void TMainForm::ProxyClick()
{
    // The settings are stored; entering or leaving remote mode comes with the transfer window.
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (m_worker) {
        MsgBoxRes(this, kStrStopFirst, mkInformation);
        event->ignore();
        return;
    }
    try {
        m_historyPage->save(m_programFolder);
    } catch (const std::exception &error) {
        // The key lists cannot be written (a read-only folder, a full disk). Say so, then let
        // the user choose between keeping the window and quitting without them.
        MsgBox(this, error.what(), mkError);
        if (MsgBoxRes(this, kStrQuitAnyway, mkQuestion) != kIdYes) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

} // namespace veltrano
