#include "window/mainform.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "cache/myutils.h"
#include "net/ping.h"
#include "search/residentcache.h"
#include "search/resultsave.h"
#include "util/error.h"
#include "util/resstr.h"
#include "widgets/dropfilesource.h"
#include "widgets/enhlistview.h"
#include "widgets/msgbox.h"
#include "widgets/possaver.h"
#include "window/findanimation.h"
#include "window/fontdialog.h"
#include "window/ftpform.h"
#include "window/hintform.h"
#include "window/historypage.h"
#include "window/objfileoperation.h"
#include "window/optionspage.h"
#include "window/resultlist.h"
#include "window/searchpage.h"

namespace veltrano {
namespace {

constexpr int kPageControlHeight = 178;
constexpr int kPanelWidth = 92;
constexpr int kMinimumListRows = 4;
constexpr const char *kWindowKey = "\\Software\\Calderwick\\Drellmoor\\Veltrano";
constexpr int kDragDistance = 10;
constexpr int kHoverDistance = 10;
// A stored echo time-out beyond this would freeze the window on every tick of the on-line walk.
constexpr uint32_t kLongestEcho = 10000;

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

TMainForm::TMainForm(
        TSetupInfo &setup, TCommonInfo &common, std::string programFolder, QWidget *parent)
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
    createResultActions();
    createShortcuts();
    createTypingSearch();
    nameControlsForAssistiveTech();
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
    // The transfer window goes with this one; nothing it still reports may reach either.
    if (m_ftpForm) {
        m_ftpForm->engine().OnFindResults = nullptr;
        m_ftpForm->engine().OnFindDone = nullptr;
        m_ftpForm->engine().OnListDone = nullptr;
    }
    // The image lists are members and go before the child lists do; a shown window still
    // measures its rows while it is torn down.
    m_listView->setImages(nullptr);
    m_listView->model()->setStateImages(nullptr);
    m_hintForm->listView()->setImages(nullptr);
    m_historyPage->listView()->setImages(nullptr);
}

void TMainForm::createImages()
{
    m_locationImages.add(QIcon(images::network()));
    m_locationImages.add(QIcon(images::computers()));
    m_locationImages.add(QIcon(images::clock()));
    m_smallImages.add(QIcon(images::file()));
    m_smallImages.add(QIcon(images::folder()));
    m_stateImages.add(QIcon(images::redCross()));
    m_stateImages.add(QIcon(images::greenTick()));
    m_stateImages.add(QIcon(images::question()));
}

void TMainForm::createPages()
{
    m_pages = new QTabWidget;
    m_searchPage = new TSearchPage(&m_locationImages);
    m_optionsPage = new TOptionsPage(m_setup);
    m_historyPage = new THistoryPage(&m_locationImages, m_programCodePage);
    m_pages->addTab(m_searchPage, tr("名稱及位置"));
    m_pages->addTab(m_optionsPage, tr("條件選項"));
    m_pages->addTab(m_historyPage, tr("歷史"));
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
    m_search = new QPushButton(tr("搜尋"), panel);
    m_stop = new QPushButton(tr("停止"), panel);
    m_clear = new QPushButton(tr("清理"), panel);
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
    m_shares = TShareMapping::load(m_programFolder + "SHARES.MAP");
    m_hintForm->CacheCodePage = CodePage::forCache(m_cacheRoot);
    m_ping->SetTimeout(int(std::min(m_common.EchoTimeout, kLongestEcho)));
    if (m_setup.Source != kSourceLocal)
        enterRemoteMode();
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
            + kMinimumListRows * m_listView->reportView()->fontMetrics().height() * 3 / 2 + 8);
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
    if (deferBehindTypedSearch())
        return;
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
    int32_t minHits = 0;
    const int32_t options = searchOptions(minHits);
    if (m_setup.ClearBeforeFind)
        BitBtn3Click();

    takeOverTypedRows();
    m_historyPage->recordSearch(m_searchPage->displayedTexts());
    m_panel0->clear();
    m_animate->setActive(true);
    m_searching = true;
    if (m_remoteMode)
        startRemoteSearch(options, minHits);
    else
        startLocalSearch(startFolder, options, minHits);
}

int32_t TMainForm::searchOptions(int32_t &minHits) const
{
    int32_t options = 0;
    minHits = 0;
    if (m_setup.OnlyShowFolder)
        options |= soOnlyShowFolder;
    if (m_setup.HitNum) {
        options |= soHitNum;
        minHits = m_setup.HitNumValue;
    }
    if (m_setup.HitNoFind)
        options |= soHitNoFind;
    if (m_setup.HitExclusive)
        options |= soHitExclusive;
    if (m_setup.OnlyFolderName)
        options |= soOnlyFolderName;
    return options;
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
    auto worker = std::make_unique<TObjSearch>(
            startFolder, options, minHits, m_conds, CodePage::forCache(m_cacheRoot), synchronize);
    worker->ScanThreads = m_scanThreads;
    worker->Resident = &ResidentCache::processWide(); // pairs kept between searches
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
    m_panel0->setText(
            qs(FmtResStr(kStrItemsFoundTotal, std::to_string(m_listView->model()->count()))));
    emit searchEnded();
    startPendingSearch();
}

void TMainForm::BitBtn2Click()
{
    stopTyping();
    if (m_remoteMode) {
        // The flag stops whichever transfer reports next: without a search to stop, that
        // would be a download.
        if (m_ftpForm && m_searching)
            m_ftpForm->engine().AbortTransfer();
        return;
    }
    if (m_worker)
        m_worker->Terminate();
}

void TMainForm::BitBtn3Click()
{
    // The hint's row is gone with the rest; ids of new rows start again.
    ++m_listGeneration;
    m_hintForm->forgetItem();
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
    BitBtn8Click();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (m_worker) {
        MsgBoxRes(this, kStrStopFirst, mkInformation);
        event->ignore();
        return;
    }
    // The transfer window asks whether to drop its connections; a No keeps both windows.
    if (m_remoteMode && m_ftpForm && m_ftpForm->isVisible() && !m_ftpForm->close()) {
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
    stopTyping(); // a pause still running must not start a search in a closed window
    event->accept();
}

} // namespace veltrano

namespace veltrano {
namespace {

// A result key names the node's cache folder and cache name; a ";" marks a prefix that is not
// part of it.
std::pair<std::string, std::string> splitResultKey(std::string_view key)
{
    const size_t semi = key.find(';');
    if (semi != std::string_view::npos)
        key.remove_prefix(semi + 1);
    const size_t slash = key.rfind('/');
    if (slash == std::string_view::npos)
        return {std::string(), std::string(key)};
    return {std::string(key.substr(0, slash + 1)), std::string(key.substr(slash + 1))};
}

QString cellText(const TEnhListModel *model, int row, int column)
{
    const std::string_view text = model->cell(row, column);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

void TMainForm::createResultActions()
{
    m_listView->model()->setStateImages(&m_stateImages);
    // Room for the on-line mark before each row's picture.
    m_listView->reportView()->setIconSize(QSize(32, 16));

    m_resultMenu = new QMenu(this);
    m_resultMenu->setObjectName(QStringLiteral("ResultMenu"));
    connect(m_resultMenu->addAction(tr("開啟(&O)")), &QAction::triggered, this,
            &TMainForm::O1Click);
    m_resultMenu->addSeparator();
    connect(m_resultMenu->addAction(tr("開啟所在電腦")), &QAction::triggered, this,
            &TMainForm::N7Click);
    connect(m_resultMenu->addAction(tr("開啟所在資料夾(&F)")), &QAction::triggered,
            this, &TMainForm::N1Click);
    m_resultMenu->addSeparator();
    connect(m_resultMenu->addAction(tr("內容提示")), &QAction::triggered, this,
            &TMainForm::N5Click);
    m_resultMenu->addSeparator();
    connect(m_resultMenu->addAction(tr("儲存結果")), &QAction::triggered, this,
            &TMainForm::N3Click);

    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_listView->reportView()),
                 static_cast<QAbstractItemView *>(m_listView->iconView())}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint &at) {
            m_resultMenu->popup(view->viewport()->mapToGlobal(at));
        });
        view->viewport()->installEventFilter(this);
        view->viewport()->setMouseTracking(true);
    }
    connect(m_listView, &TEnhListView::rowActivated, this, [this](int) {
        O1Click();
    });

    m_ping = new TPing(this);
    m_ping->SetSize(56);
    m_ping->SetTTL(64);
    m_ping->SetFlags(0);
    m_ping->SetTimeout(int(std::min(m_common.EchoTimeout, kLongestEcho)));

    m_dropSource = new TDropFileSource(this);
    m_dropSource->Dragtypes = dtCopy;
    m_dropSource->UrlOf = [this](const QString &path) {
        return m_shares.urlFor(path);
    };

    m_hintForm = new THintForm(m_smallImages, m_extList, this);
    m_hintForm->CheckNode = [this](const std::string &key, const QString &folder) {
        return checkNode(key, folder);
    };
    m_hintForm->OpenPath = [this](const QString &path) {
        openPath(path);
        waitCursorBriefly();
    };
    m_hintForm->DragPaths = [this](const QStringList &paths) {
        dragPaths(paths);
    };

    m_pingTimer.setInterval(500);
    connect(&m_pingTimer, &QTimer::timeout, this, [this] {
        try {
            PingTimerTimer();
        } catch (...) { }
    });
    m_pingTimer.start();
    m_hintTimer.setInterval(250);
    m_hintTimer.setSingleShot(true);
    connect(&m_hintTimer, &QTimer::timeout, this, [this] {
        try {
            HintTimerTimer();
        } catch (...) { }
    });
}

int TMainForm::echo(const std::string &address)
{
    if (m_echo)
        return m_echo(address);
    m_ping->SetAddress(address);
    return m_ping->Ping();
}

std::optional<TNodeData> TMainForm::loadNodeOf(const std::string &nodeFolder,
        const std::string &nodeName) const
{
    const CodePage cp = CodePage::forCache(m_cacheRoot);
    TNodeData node;
    node.Folder = nodeFolder;
    node.CacheName = cp.fromUtf8Lossy(nodeName);
    node.Position = -1;
    try {
        LoadNode(node, cp);
    } catch (const std::exception &) {
        return std::nullopt;
    }
    return node;
}

bool TMainForm::checkNode(const std::string &resultKey, const QString &folder)
{
    const auto [nodeFolder, nodeName] = splitResultKey(resultKey);
    const std::optional<TNodeData> loaded = loadNodeOf(nodeFolder, nodeName);
    if (!loaded)
        return false; // the cache has changed since the search: the row leads nowhere
    const TNodeData &node = *loaded;
    if (node.AddrKind == kAddrKindPingable && node.has(nkIndexed) && echo(node.Address) == 0) {
        QApplication::restoreOverrideCursor();
        MsgBox(this, FmtResStr(kStrNoResponse, folder.toStdString()), mkError);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        return false;
    }
    return true;
}

void TMainForm::openPath(const QString &path)
{
    const QUrl url = m_shares.urlFor(path);
    if (url.isEmpty()) {
        // A drive of the machine the cache was collected on: nothing here answers to it.
        MsgBox(this, path.toStdString() + "\r\n" + ErrorText(ENOENT), mkError);
        return;
    }
    TObjFileOperation::start(this, path, url);
}

void TMainForm::waitCursorBriefly()
{
    // The handler starts on its own thread; the hourglass says for a moment that it did.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QTimer::singleShot(200, this, [] {
        QApplication::restoreOverrideCursor();
    });
}

void TMainForm::O1Click()
{
    const std::vector<int> selected = m_listView->selectedRows();
    if (selected.empty())
        return;
    const int row = selected.front();
    if (m_remoteMode) {
        openRemoteRow(row);
        return;
    }
    const TEnhListModel *model = m_listView->model();
    const QString folder = cellText(model, row, rcFolder);
    const QString path = folder + cellText(model, row, rcName);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool answers = checkNode(std::string(model->cell(row, rcResultKey)), folder);
    QApplication::restoreOverrideCursor();
    if (!answers)
        return;
    openPath(path);
    waitCursorBriefly();
}

void TMainForm::N1Click()
{
    const std::vector<int> selected = m_listView->selectedRows();
    if (selected.empty())
        return;
    const TEnhListModel *model = m_listView->model();
    const QString folder = cellText(model, selected.front(), rcFolder);
    const QUrl item = m_shares.urlFor(folder + cellText(model, selected.front(), rcName));
    // A file manager that can select the item shows where it lies; else the folder opens.
    if (item.isLocalFile() && showItemInFileManager(item))
        return;
    openPath(folder);
}

void TMainForm::N7Click()
{
    const std::vector<int> selected = m_listView->selectedRows();
    if (selected.empty())
        return;
    const QString folder = cellText(m_listView->model(), selected.front(), rcFolder);
    if (folder.size() > 3 && folder.startsWith(QLatin1String("\\\\"))) {
        const QString computer = folder.mid(2).section(QLatin1Char('\\'), 0, 0);
        if (!computer.isEmpty())
            openPath(QStringLiteral("\\\\") + computer);
    }
    waitCursorBriefly();
}

void TMainForm::N5Click()
{
    const std::vector<int> selected = m_listView->selectedRows();
    if (selected.empty())
        return;
    m_hintForm->ShowContent(!m_remoteMode, hintRowOf(selected.front()));
}

THintRow TMainForm::hintRowOf(int row) const
{
    const TEnhListModel *model = m_listView->model();
    THintRow hint;
    hint.item = (m_listGeneration << 32) | model->idAt(row);
    hint.caption = cellText(model, row, rcName);
    hint.folder = cellText(model, row, rcFolder);
    hint.isFolder = model->image(row) == kFolderImage;
    hint.resultKey = std::string(model->cell(row, rcResultKey));
    return hint;
}

void TMainForm::N3Click()
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("SaveResultsDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setDefaultSuffix(QStringLiteral("TXT"));
    const QStringList filters = {QStringLiteral("*.TXT (*.TXT *.txt)"),
            tr("UTF-8 文字 (*.txt)"), QStringLiteral("CSV (*.csv)"),
            QStringLiteral("*.* (*)")};
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const int filter = int(filters.indexOf(dialog.selectedNameFilter()));
    const ResultFileFormat format = filter == 1 ? ResultFileFormat::Utf8Text
            : filter == 2                       ? ResultFileFormat::Csv
                                                : ResultFileFormat::CodePageText;
    const TEnhListModel *model = m_listView->model();
    std::vector<ResultRow> rows;
    rows.reserve(size_t(model->count()));
    for (int row = 0; row < model->count(); ++row) {
        ResultRow out;
        out.name = model->cell(row, rcName);
        out.ext = model->cell(row, rcExt);
        out.size = model->cell(row, rcSize);
        out.folder = model->cell(row, rcFolder);
        out.location = model->cell(row, rcLocation);
        out.date = model->cell(row, rcDate);
        // Rows of the search server carry no node, no location and no date.
        out.hasLocation = !model->cell(row, rcResultKey).empty();
        rows.push_back(std::move(out));
    }
    try {
        saveResults(dialog.selectedFiles().front().toStdString(), rows, format, m_programCodePage);
    } catch (const std::exception &error) {
        MsgBox(this, error.what(), mkError);
    }
}

void TMainForm::PingTimerTimer()
{
    TEnhListModel *model = m_listView->model();
    QAbstractItemView *view = m_listView->activeView();
    if (model->count() == 0 || !view)
        return;
    const QRect shown = view->viewport()->rect();
    const QModelIndex topIndex = view->indexAt(QPoint(1, 1));
    if (!topIndex.isValid())
        return;
    int chosen = -1;
    std::string nodeFolder;
    std::string nodeName;
    for (int row = topIndex.row(); row < model->count(); ++row) {
        if (!view->visualRect(model->index(row, 0)).intersects(shown))
            break;
        if (model->stateImage(row) >= 0)
            continue;
        const std::string_view key = model->cell(row, rcResultKey);
        if (key.empty())
            continue;
        std::tie(nodeFolder, nodeName) = splitResultKey(key);
        if (nodeName == LastPingName) {
            model->setStateImage(row, LastPingState);
            continue;
        }
        chosen = row;
        break;
    }
    if (chosen < 0)
        return;
    const TNodeData node = loadNodeOf(nodeFolder, nodeName).value_or(TNodeData{});
    int state = 2;
    if (node.AddrKind == kAddrKindPingable && node.has(nkIndexed))
        state = echo(std::to_string(AddrToNumber(node.Address))) != 0 ? 1 : 0;
    model->setStateImage(chosen, state);
    LastPingName = nodeName;
    LastPingState = state;
}

void TMainForm::HintTimerTimer()
{
    m_hintTimer.stop();
    QAbstractItemView *view = m_listView->activeView();
    if (!view)
        return;
    // Where the pointer is now: the last move over the list, none once it has left the list.
    if (!m_pointerInList)
        return;
    // A pop-up menu opened where the pointer rests holds the pointer: a hint would cover it.
    if (QApplication::activePopupWidget())
        return;
    const QPoint at = m_lastMove;
    if (std::abs(at.x() - m_hoverPoint.x()) >= kHoverDistance
            || std::abs(at.y() - m_hoverPoint.y()) >= kHoverDistance)
        return;
    const QModelIndex index = view->indexAt(at);
    if (index.isValid())
        m_hintForm->ShowContent(!m_remoteMode, hintRowOf(index.row()));
}

void TMainForm::ListViewMouseDown(const QPoint &at)
{
    m_pressPoint = at;
    m_pressed = true;
}

void TMainForm::ListViewMouseMove(QMouseEvent *event, QAbstractItemView *view)
{
    const QPoint at = event->position().toPoint();
    m_lastMove = at;
    m_pointerInList = true;
    if (m_setup.OnlineShow && !m_hintTimer.isActive()) {
        m_hoverPoint = at;
        m_hintTimer.start();
    }
    if (!m_pressed || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint delta = at - m_pressPoint;
    if (std::abs(delta.x()) < kDragDistance && std::abs(delta.y()) < kDragDistance)
        return;
    const std::vector<int> selected = m_listView->selectedRows();
    if (selected.empty())
        return;
    m_pressed = false;
    if (m_remoteMode) {
        dragRemoteEntries(dragEntriesOf(selected));
        return;
    }
    QStringList paths;
    const TEnhListModel *model = m_listView->model();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (const int row : selected) {
        const std::string key(model->cell(row, rcResultKey));
        if (!key.empty() && !checkNode(key, cellText(model, row, rcFolder))) {
            QApplication::restoreOverrideCursor();
            return;
        }
        paths.append(cellText(model, row, rcFolder) + cellText(model, row, rcName));
    }
    QApplication::restoreOverrideCursor();
    Q_UNUSED(view);
    dragPaths(paths);
}

void TMainForm::dragPaths(const QStringList &paths)
{
    // In remote mode the hint hands over its rows as remote entries.
    if (m_remoteMode) {
        dragRemoteEntries(paths);
        return;
    }
    m_dropSource->Files = paths;
    m_dropSource->Execute(this);
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    try {
        for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_listView->reportView()),
                     static_cast<QAbstractItemView *>(m_listView->iconView())}) {
            if (watched != view->viewport())
                continue;
            if (event->type() == QEvent::MouseButtonPress) {
                const auto *e = static_cast<QMouseEvent *>(event);
                if (e->button() == Qt::LeftButton)
                    ListViewMouseDown(e->position().toPoint());
            } else if (event->type() == QEvent::MouseButtonRelease) {
                m_pressed = false;
            } else if (event->type() == QEvent::Leave) {
                m_pointerInList = false;
            } else if (event->type() == QEvent::MouseMove) {
                ListViewMouseMove(static_cast<QMouseEvent *>(event), view);
            }
        }
    } catch (...) { }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace veltrano
