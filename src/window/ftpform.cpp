#include "window/ftpform.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QSplitter>
#include <QStyle>
#include <QTextEdit>
#include <QToolBar>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include "transfer/transfertext.h"
#include "util/datetime.h"
#include "widgets/enhlistview.h"
#include "widgets/images.h"
#include "widgets/msgbox.h"
#include "widgets/panelstatusbar.h"
#include "window/brwfolderform.h"
#include "window/enginetext.h"
#include "window/ftpopenform.h"
#include "window/ftpqueryform.h"
#include "window/objfileoperation.h"
#include "window/passform.h"

namespace veltrano {

namespace {

constexpr const char *kDragEntryMime = "application/x-veltrano-dragentry";

QColor colourOf(LogColour colour)
{
    switch (colour) {
    case LogColour::Trace:
        return QColor(0x00, 0x80, 0x00);
    case LogColour::Progress:
        return QColor(0x00, 0x00, 0x80);
    case LogColour::Error:
        return QColor(0xFF, 0x00, 0x00);
    }
    return Qt::black;
}

} // namespace

TFtpForm::TFtpForm(CodePage codePage, const QString &programFolder, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
    , m_cp(codePage)
    , m_programFolder(programFolder)
    , m_engine(new TransferEngine(codePage, programFolder.toStdString(), this))
    , m_toolBar(new QToolBar(this))
    , m_log(new QTextEdit(this))
    , m_queue(new TEnhListView(this))
    , m_status(new TPanelStatusBar(this))
    , m_menu(new QMenu(this))
    , m_images(std::make_unique<TImageList>())
{
    resize(411, 302);
    m_log->setReadOnly(true);
    m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    QStyle *style = this->style();
    m_images->add(style->standardIcon(QStyle::SP_MediaPlay)); // running
    m_images->add(style->standardIcon(QStyle::SP_FileIcon)); // waiting
    m_images->add(style->standardIcon(QStyle::SP_DialogApplyButton)); // done
    m_images->add(style->standardIcon(QStyle::SP_MessageBoxCritical)); // failed
    m_queue->setImages(m_images.get());
    m_queue->setColumns({{tr("遠端"), 160}, {tr("大小"), 70, Qt::AlignRight}, {tr("動作"), 40}, {tr("本機端"), 160},
            {tr("狀態"), 50}, {tr("時間"), 130}, {tr("嘗試"), 40}, {tr("訊息"), 110}});
    m_queue->setMultiSelect(true);
    m_queue->setViewStyle(3);
    m_queue->Loaded();
    // The timer starts the upper rows first, so a header click sorts the queue itself rather
    // than only the view of it.
    m_queue->AutoColumnSort = acsNoSort;
    connect(m_queue->header(), &QHeaderView::sectionClicked, this,
            &TFtpForm::sortQueue);
    m_queue->setAcceptDrops(true);
    m_queue->reportView()->viewport()->setAcceptDrops(true);
    m_queue->reportView()->viewport()->installEventFilter(this);
    m_queue->reportView()->setContextMenuPolicy(Qt::CustomContextMenu);

    createToolBar();
    createMenu();
    createStatusBar();

    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_log);
    splitter->addWidget(m_queue);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(splitter, 1);
    layout->addWidget(m_status);

    m_engine->setQuestions(this);
    connect(m_engine, &TransferEngine::logLine, this, &TFtpForm::addLogLine);
    connect(m_engine, &TransferEngine::statusText, this, [this](const QString &text) {
        m_status->panel(0)->setText(text);
    });
    connect(m_engine, &TransferEngine::countersChanged, this, &TFtpForm::showCounters);
    connect(m_engine, &TransferEngine::gaugeChanged, this, [this](bool enabled, int percent) {
        m_status->panel(4)->setEnabled(enabled);
        m_status->panel(4)->setGaugePosition(percent);
    });
    connect(m_engine, &TransferEngine::queueChanged, this, &TFtpForm::refreshQueue);
    connect(m_engine, &TransferEngine::openRequested, this, &TFtpForm::openDownloaded);
}

TFtpForm::~TFtpForm()
{
    m_engine->setQuestions(nullptr);
}

void TFtpForm::createToolBar()
{
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    QStyle *style = this->style();
    const auto button = [&](QStyle::StandardPixmap icon, const char *text, auto handler) {
        QAction *action = m_toolBar->addAction(style->standardIcon(icon), tr(text));
        connect(action, &QAction::triggered, this, [this, handler] {
            guarded(handler);
        });
        return action;
    };
    button(QStyle::SP_BrowserReload, QT_TR_NOOP("重連"), [this] {
        m_engine->DirFtpClient().ConnectAsync();
        m_engine->QueueFtpClient().ConnectAsync();
    });
    button(QStyle::SP_DialogCloseButton, QT_TR_NOOP("斷線"), [this] {
        m_engine->DirFtpClient().QuitAsync();
        m_engine->QueueFtpClient().QuitAsync();
    });
    m_queueAction = button(QStyle::SP_MediaPause, QT_TR_NOOP("佇列"), [this] {
        m_engine->setQueueOn(!m_engine->queueOn());
        m_queueAction->setIcon(this->style()->standardIcon(
                m_engine->queueOn() ? QStyle::SP_MediaPlay : QStyle::SP_MediaPause));
    });
    button(QStyle::SP_MediaStop, QT_TR_NOOP("中斷"), [this] {
        m_engine->AbortTransfer();
    });
    button(QStyle::SP_BrowserStop, QT_TR_NOOP("放棄"), [this] {
        m_engine->AbortSessions();
    });
    button(QStyle::SP_DirOpenIcon, QT_TR_NOOP("檔案"), [this] {
        // On a thread of its own: a file manager slow to start must not hold the transfers.
        const QString folder = QString::fromStdString(DownloadFolder);
        TObjFileOperation::start(this, folder, QUrl::fromLocalFile(folder));
    });
}

void TFtpForm::createMenu()
{
    for (const char *text : {QT_TR_NOOP("新工作"), QT_TR_NOOP("編輯工作"), QT_TR_NOOP("開啟來源電腦"), QT_TR_NOOP("開啟來源資料夾")})
        m_menu->addAction(tr(text))->setEnabled(false);
    m_menu->addSeparator();
    connect(m_menu->addAction(tr("刪除工作")), &QAction::triggered, this, [this] {
        const std::vector<int> rows = m_queue->selectedRows();
        m_engine->deleteRows(std::vector<size_t>(rows.begin(), rows.end()));
    });
    connect(m_menu->addAction(tr("更新工作")), &QAction::triggered, this, [this] {
        if (m_queue->currentRow() >= 0)
            m_engine->renewRow(size_t(m_queue->currentRow()));
    });
    connect(m_queue->reportView(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) {
                m_menu->popup(m_queue->reportView()->viewport()->mapToGlobal(at));
            });
}

void TFtpForm::createStatusBar()
{
    TStatusPanel *message = m_status->addPanel();
    message->setWidth(150);
    message->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (int i = 0; i < 3; ++i)
        m_status->addPanel()->setAutoFit(true);
    TStatusPanel *gauge = m_status->addPanel();
    gauge->setPanelType(sptGauge);
    gauge->setWidth(100);
    gauge->setEnabled(false);
    showCounters();
}

void TFtpForm::showCounters()
{
    m_status->panel(1)->setText(tr("已下載%1").arg(m_engine->DoneCount));
    m_status->panel(2)->setText(tr("總下載%1").arg(m_engine->TotalCount));
    m_status->panel(3)->setText(tr("失敗%1").arg(m_engine->FailCount));
}

void TFtpForm::addLogLine(LogColour colour, const QString &text)
{
    QTextCursor cursor(m_log->document());
    cursor.movePosition(QTextCursor::Start);
    QTextCharFormat format;
    format.setForeground(colourOf(colour));
    // The colour alone does not tell every reader what kind of line this is.
    format.setToolTip(colour == LogColour::Error          ? tr("錯誤")
                    : colour == LogColour::Progress     ? tr("進度")
                                                          : tr("通訊"));
    if (!m_log->document()->isEmpty()) {
        cursor.insertBlock();
        cursor.movePosition(QTextCursor::Start);
    }
    cursor.insertText(text, format);
}

void TFtpForm::refreshQueue()
{
    TEnhListModel *model = m_queue->model();
    const int current = m_queue->currentRow();
    model->clear();
    for (const QueueRow &row : m_engine->queue().rows) {
        const std::string remote = m_cp.toUtf8(row.remote);
        const std::string size = rowSizeText(row);
        const std::string time = formatDateTime(row.time);
        const std::string tries = std::to_string(row.tries);
        const std::string state = engineText(rowStateText(row.state)).toStdString();
        const std::string_view cells[] = {
                remote, size, "GET", row.local, state, time, tries, row.message};
        model->stage(rowImage(row.state), cells);
    }
    model->flush();
    if (current >= 0 && current < model->count())
        m_queue->reportView()->setCurrentIndex(model->index(current, 0));
}

void TFtpForm::sortQueue(int column)
{
    m_sortAscending = column == m_sortColumn ? !m_sortAscending : true;
    m_sortColumn = column;
    const auto key = [this, column](const QueueRow &row) -> std::pair<double, std::string> {
        switch (column) {
        case 1:
            return {row.folder ? -1.0 : double(row.size), {}};
        case 5:
            return {row.time, {}};
        case 6:
            return {double(row.tries), {}};
        case 0:
            return {0, m_cp.toUtf8(row.remote)};
        case 3:
            return {0, row.local};
        case 4:
            return {0, rowStateText(row.state)};
        case 7:
            return {0, row.message};
        default:
            return {0, {}};
        }
    };
    std::vector<QueueRow> &rows = m_engine->queue().rows;
    std::stable_sort(rows.begin(), rows.end(), [&](const QueueRow &a, const QueueRow &b) {
        return m_sortAscending ? key(a) < key(b) : key(b) < key(a);
    });
    refreshQueue();
}

bool TFtpForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_queue->reportView()->viewport())
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        // Only copies of remote rows: files of the desktop have no server to come from.
        if (drag->mimeData()->hasFormat(kDragEntryMime)
                && (drag->possibleActions() & Qt::CopyAction)) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    if (event->type() == QEvent::Drop) {
        auto *drop = static_cast<QDropEvent *>(event);
        if (!drop->mimeData()->hasFormat(kDragEntryMime)) {
            drop->ignore();
            return true;
        }
        std::vector<std::string> entries;
        const QString text = QString::fromUtf8(drop->mimeData()->data(kDragEntryMime));
        for (const QString &line : text.split('\n', Qt::SkipEmptyParts))
            entries.push_back(m_cp.fromUtf8Lossy(line.trimmed().toStdString()));
        m_engine->addDroppedRows(entries, DownloadFolder);
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TFtpForm::closeEvent(QCloseEvent *event)
{
    if (m_engine->DirFtpClient().State() != ftpNotConnected
            && MsgBox(this, tr("仍然在連線中,是否確定要結束?").toStdString(), mkQuestion) != kIdYes) {
        m_status->panel(0)->setText(tr("放棄結束連線"));
        event->ignore();
        return;
    }
    m_engine->DirFtpClient().Quit();
    m_engine->QueueFtpClient().Quit();
    event->accept(); // hides: the main window owns this window
}

void TFtpForm::ConnectSessions(const std::string &host, const std::string &user,
        const std::string &port, const std::string &password)
{
    setWindowTitle(QString::fromStdString(m_cp.toUtf8(host)));
    m_engine->ConnectSessions(host, user, port, password);
}

void TFtpForm::ReconnectSessions(const std::string &host, const std::string &user,
        const std::string &port, const std::string &password)
{
    setWindowTitle(QString::fromStdString(m_cp.toUtf8(host)));
    m_engine->ReconnectSessions(host, user, port, password);
}

void TFtpForm::OpenRemoteItem(const TItemData &item)
{
    const std::string name = m_cp.toUtf8(item.name());
    TFtpOpenForm dialog(this);
    if (!dialog.ask(QString::fromStdString(name), !item.isDirectory()))
        return;
    guarded([&] {
        if (dialog.choice() == TFtpOpenForm::DownloadAndOpen) {
            const std::string last = localNameOf(item.name(), m_cp).value_or(std::string());
            std::string folder = DownloadFolder;
            if (!folder.empty() && folder.back() != '/')
                folder += '/';
            m_engine->setOpenAfter(folder + last);
            m_engine->DownloadItem(item, DownloadFolder);
            return;
        }
        TBrwFolderForm browser(this);
        browser.setPath(QString::fromStdString(DownloadFolder));
        browser.exec();
        if (browser.isAccepted())
            m_engine->DownloadItem(item, browser.path().toStdString());
    });
}

// The viewer of the suite when it is installed beside the program, else the desktop's handler.
void TFtpForm::openDownloaded(const QString &path)
{
    for (const char *viewer : {"SORVATH.EXE", "sorvath"}) {
        const QFileInfo program(m_programFolder + "/" + viewer);
        if (program.isFile() && program.isExecutable()) {
            QProcess::startDetached(program.filePath(), {path});
            return;
        }
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

ExistAnswer TFtpForm::askExisting(const TItemData &remote, const std::string &localPath)
{
    TFtpQueryForm dialog(m_cp, this);
    ExistAnswer answer;
    if (!dialog.ask(remote, QString::fromStdString(localPath)))
        return answer; // given up
    answer.choice =
            dialog.choice() == TFtpQueryForm::Resume ? ExistChoice::Resume : ExistChoice::Overwrite;
    answer.localPath = dialog.localPath().toStdString();
    answer.applyToAll = dialog.allAlike();
    return answer;
}

bool TFtpForm::askLogon(std::string &user, std::string &password)
{
    TPassForm dialog(this);
    dialog.UserName = QString::fromStdString(m_cp.toUtf8(user));
    dialog.exec();
    if (!dialog.isConfirmed())
        return false;
    user = m_cp.fromUtf8Lossy(dialog.UserName.toStdString());
    password = m_cp.fromUtf8Lossy(dialog.Password.toStdString());
    return true;
}

void TFtpForm::guarded(const std::function<void()> &body)
{
    try {
        body();
    } catch (const std::exception &e) {
        MsgBox(this, e.what(), mkError);
    }
}

} // namespace veltrano
