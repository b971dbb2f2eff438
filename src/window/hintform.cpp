#include "window/hintform.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDate>
#include <QDateTime>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTableView>
#include <QVBoxLayout>

#include "cache/myutils.h"
#include "util/datetime.h"
#include "widgets/enhlistview.h"
#include "widgets/fileicons.h"
#include "store/setupinfo.h"
#include "util/error.h"
#include "widgets/msgbox.h"
#include "window/ftpform.h"

namespace veltrano {
namespace {

enum HintColumn {
    hcName,
    hcExt,
    hcSize,
    hcDate,
    hcTime /* hidden: the date as a number */,
    hcCount
};
constexpr int kFolderImage = 1;
constexpr int kHideTicks = 10;
constexpr int kDragDistance = 10;
const QString kDotDot = QStringLiteral("..");

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString withBackslash(QString folder)
{
    if (!folder.endsWith(QLatin1Char('\\')))
        folder += QLatin1Char('\\');
    return folder;
}

// The n-th backslash-separated component of a data path (from 1), as the cache's helper cuts
// it; the texts here are UTF-8, where a backslash is always a separator.
QString pathPart(const QString &path, int n)
{
    const QStringList parts = path.split(QLatin1Char('\\'));
    return n >= 1 && n <= parts.size() ? parts[n - 1] : QString();
}

QString dateText(double value)
{
    const DateTimeParts p = decodeDateTime(value);
    const QDateTime when(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second));
    const QLocale locale;
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')
            + locale.toString(when.time(), QLocale::LongFormat);
}

} // namespace

THintForm::THintForm(TImageList &images, TExtList &extList, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
    , m_images(images)
    , m_extList(extList)
{
    setObjectName(QStringLiteral("HintForm"));
    resize(396, 241);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_list = new TEnhListView(this);
    m_list->setColumns(
            {{tr("檔名"), 120, Qt::AlignLeft, false}, {tr("副檔名"), 60, Qt::AlignLeft, false},
                    {tr("大小"), 70, Qt::AlignRight, false},
                    {tr("日期"), 130, Qt::AlignHCenter, false}},
            1);
    m_list->setImages(&m_images);
    m_list->setMultiSelect(true);
    m_list->AutoColumnSort = acsSortToggle;
    m_list->AutoResort = false;
    m_list->setShowSortArrows(true);
    m_list->setViewStyle(2);
    // ".." comes first and would set the width of every name in the list view.
    m_list->iconView()->setUniformItemSizes(false);
    // Tool-tip colours: the hint reads as a tip that stays, not as a window of its own.
    QPalette palette = m_list->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::Text, palette.color(QPalette::ToolTipText));
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_list->reportView()),
                 static_cast<QAbstractItemView *>(m_list->iconView())}) {
        view->setPalette(palette);
        view->viewport()->installEventFilter(this);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint &at) {
            m_popup->popup(view->viewport()->mapToGlobal(at));
        });
    }
    layout->addWidget(m_list);

    // "..": always first; then folders before files, and the later date first.
    m_list->OnSortItems = [this](const TEnhListModel &model, RowId a, RowId b, int sortColumn,
                                  TSortAs &sortAs, int &result) {
        const int direction = m_list->sortAscending() ? 1 : -1;
        const bool dotA = model.itemText(a, hcName) == "..";
        const bool dotB = model.itemText(b, hcName) == "..";
        if (dotA || dotB) {
            result = (dotA == dotB ? 0 : dotA ? -1 : 1) * direction;
            return;
        }
        switch (sortColumn + 1) {
        case hcName: {
            const bool folderA = model.itemImage(a) == kFolderImage;
            const bool folderB = model.itemImage(b) == kFolderImage;
            if (folderA != folderB) {
                result = (folderA ? -1 : 1) * direction;
                return;
            }
            sortAs = saString;
            return;
        }
        case hcSize:
            sortAs = saNumeric;
            return;
        case hcDate: {
            const double ta = std::atof(std::string(model.itemText(a, hcTime)).c_str());
            const double tb = std::atof(std::string(model.itemText(b, hcTime)).c_str());
            result = ta > tb ? -1 : ta < tb ? 1 : 0;
            return;
        }
        default:
            sortAs = saString;
        }
    };
    connect(m_list, &TEnhListView::rowActivated, this, [this](int) {
        try {
            ListViewDblClick();
        } catch (...) { }
    });

    m_popup = new QMenu(this);
    QMenu *view = m_popup->addMenu(tr("檢視"));
    connect(view->addAction(tr("清單")), &QAction::triggered, this, &THintForm::N2Click);
    connect(view->addAction(tr("詳細資料")), &QAction::triggered, this, &THintForm::N3Click);

    m_hideTimer.setInterval(200);
    connect(&m_hideTimer, &QTimer::timeout, this, &THintForm::HintTimerTimer);
}

void THintForm::ShowContent(bool local, const THintRow &row)
{
    if (isHidden())
        show();
    raise();
    m_hideCount = kHideTicks;
    if (!isActiveWindow())
        m_hideTimer.start();
    m_local = local;
    if (m_haveItem && row.item == m_hintItem.item)
        return;
    m_hintItem = row;
    m_haveItem = true;
    m_shownFolder = withBackslash(row.isFolder ? row.folder + row.caption : row.folder);
    setWindowTitle(m_shownFolder);
    repaint();
    if (!local) {
        ListRemoteFolder(m_shownFolder);
        return;
    }
    const size_t slash = row.resultKey.rfind('/');
    m_nodeFolder = slash == std::string::npos ? std::string() : row.resultKey.substr(0, slash + 1);
    m_nodeName = slash == std::string::npos ? row.resultKey : row.resultKey.substr(slash + 1);
    ListCacheFolder(row.isFolder ? row.folder + row.caption + QLatin1Char('\\') : row.folder);
}

void THintForm::addDotDotRow()
{
    const std::array<std::string_view, hcCount> cells = {"..", {}, {}, {}, {}};
    m_list->model()->stage(kFolderImage, cells);
}

void THintForm::ListCacheFolder(const QString &folder)
{
    m_list->BeginUpdate();
    try {
        TItemList entries;
        const std::string dir = CacheCodePage.fromUtf8Lossy(folder.toStdString());
        const std::string name = CacheCodePage.fromUtf8Lossy(m_nodeName);
        ListCacheDir(entries, m_nodeFolder, name, dir, CacheCodePage);
        TEnhListModel *model = m_list->model();
        model->clear();
        addDotDotRow();
        m_shownFolder = withBackslash(folder);
        setWindowTitle(m_shownFolder);
        for (const TItemData &entry : entries) {
            const std::string_view path = entry.name();
            const size_t cut = CacheCodePage.rfindChar(path, '\\');
            const std::string caption = CacheCodePage.toUtf8(
                    cut == std::string_view::npos ? path : path.substr(cut + 1));
            if (caption.empty())
                continue;
            stageRow(caption, entry.isDirectory(), entry.Size, entry.Time);
        }
        model->flush();
        m_list->setSortAscending(true);
        m_list->setSortColumn(hcName);
        m_list->Resort();
    } catch (const std::exception &error) {
        m_list->EndUpdate();
        MsgBox(this, error.what(), mkError);
        return;
    }
    m_list->EndUpdate();
}

void THintForm::stageRow(const std::string &caption, bool isFolder, int64_t size, double time)
{
    const std::string ext = isFolder ? std::string() : std::string(dottedExtension(caption));
    const std::string sizeText = isFolder ? std::string() : std::to_string(size);
    const std::string date = dateText(time).toStdString();
    const std::string timeText = std::to_string(time);
    const int image = isFolder ? kFolderImage : FileIconIndex(caption, m_images, m_extList);
    const std::array<std::string_view, hcCount> cells = {caption, ext, sizeText, date, timeText};
    m_list->model()->stage(image, cells);
}

void THintForm::ListRemoteFolder(const QString &folder)
{
    std::string failure;
    try {
        if (!FtpForm)
            throw Error(tr("FTP仍在工作或尚未準備好").toStdString());
        TransferEngine &engine = FtpForm->engine();
        const TFtpState state = engine.DirFtpClient().State();
        if (state != ftpReady && state != ftpInternalReady)
            throw Error(tr("FTP仍在工作或尚未準備好").toStdString());
        engine.OnListDone = [this] {
            RemoteListDone();
        };
        const CodePage &cp = FtpForm->codePage();
        engine.BrowseRemoteFolder(cp.fromUtf8Lossy(folder.toStdString()));
        return;
    } catch (const std::exception &error) {
        failure = error.what();
    }
    m_list->model()->flush();
    for (const std::string &text : {tr("讀取快取時發生錯誤").toStdString(), failure}) {
        const std::array<std::string_view, hcCount> cells = {text, {}, {}, {}, {}};
        m_list->model()->insertRowAt(m_list->model()->count(), 0, cells);
    }
}

void THintForm::RemoteListDone()
{
    if (!FtpForm)
        return;
    const CodePage &cp = FtpForm->codePage();
    m_list->BeginUpdate();
    try {
        TEnhListModel *model = m_list->model();
        model->clear();
        addDotDotRow();
        for (const TItemData &entry : FtpForm->engine().ResultList()) {
            const std::string caption = cp.toUtf8(entry.name());
            if (caption.empty())
                continue;
            stageRow(caption, entry.isDirectory(), entry.Size >> 10, entry.Time);
        }
        model->flush();
        // By name: ".." first, then folders, then files.
        m_list->setSortAscending(true);
        m_list->setSortColumn(hcName);
        m_list->Resort();
    } catch (...) {
        // A listing that cannot be shown leaves what was shown so far.
    }
    m_list->EndUpdate();
}

void THintForm::ListViewDblClick()
{
    const std::vector<int> selected = m_list->selectedRows();
    if (selected.empty())
        return;
    const int row = selected.front();
    const TEnhListModel *model = m_list->model();
    const QString caption = qs(model->cell(row, hcName));
    const bool isFolder = model->image(row) == kFolderImage;
    if (!m_local) {
        if (!isFolder) {
            if (!FtpForm)
                return;
            const CodePage &cp = FtpForm->codePage();
            TItemData item;
            item.Size = uint32_t(std::strtoul(std::string(model->cell(row, hcSize)).c_str(), nullptr, 10) << 10);
            item.Attr = 0;
            item.Time = 0;
            std::string name;
            copyText(name, cp.fromUtf8Lossy((m_shownFolder + caption).toStdString()), cp, 255);
            item.setName(name);
            FtpForm->OpenRemoteItem(item);
            return;
        }
        if (caption == kDotDot) {
            QString parent = m_shownFolder;
            parent.chop(1);
            const qsizetype cut = parent.lastIndexOf(QLatin1Char('\\'));
            m_shownFolder = cut < 0 ? QString() : parent.left(cut + 1);
        } else {
            m_shownFolder += caption + QLatin1Char('\\');
        }
        setWindowTitle(m_shownFolder);
        repaint();
        ListRemoteFolder(m_shownFolder);
        return;
    }
    if (caption == kDotDot && isFolder) {
        QString parent = m_shownFolder;
        parent.chop(1);
        parent = parent.left(parent.lastIndexOf(QLatin1Char('\\')) + 1);
        QString bare = parent;
        if (bare.endsWith(QLatin1Char('\\')))
            bare.chop(1);
        // \\PC\ is as high as a listing goes: above it lies the network, not a folder.
        if (pathPart(bare, 3).isEmpty()) {
            MsgBox(this, tr("不能在更上層").toStdString(), mkError);
            return;
        }
        ListCacheFolder(parent);
    } else if (isFolder) {
        ListCacheFolder(m_shownFolder + caption + QLatin1Char('\\'));
    } else {
        OpenSelected();
    }
}

void THintForm::OpenSelected()
{
    const std::vector<int> selected = m_list->selectedRows();
    if (selected.empty())
        return;
    if (CheckNode && !CheckNode(m_hintItem.resultKey, m_hintItem.folder))
        return;
    if (OpenPath)
        OpenPath(m_shownFolder + qs(m_list->model()->cell(selected.front(), hcName)));
}

void THintForm::dragSelected()
{
    const std::vector<int> selected = m_list->selectedRows();
    if (selected.empty() || !DragPaths)
        return;
    if (m_local && CheckNode && !CheckNode(m_hintItem.resultKey, m_hintItem.folder))
        return;
    QStringList paths;
    for (const int row : selected) {
        const QString caption = qs(m_list->model()->cell(row, hcName));
        if (caption == kDotDot)
            continue;
        if (m_local) {
            paths.append(m_shownFolder + caption);
            continue;
        }
        // Remote rows travel as the server's entries: kind, path and size in KB.
        const bool folder = m_list->model()->image(row) == kFolderImage;
        QString entry = (folder ? QStringLiteral("D") : QStringLiteral("F")) + m_shownFolder
                + caption + QLatin1Char('<');
        if (!folder)
            entry += qs(m_list->model()->cell(row, hcSize));
        paths.append(entry);
    }
    if (!paths.isEmpty())
        DragPaths(paths);
}

void THintForm::N2Click()
{
    m_list->setViewStyle(2);
    // ".." comes first and would set the width of every name in the list view.
    m_list->iconView()->setUniformItemSizes(false);
}

void THintForm::N3Click()
{
    m_list->setViewStyle(3);
}

void THintForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FormShow();
}

void THintForm::FormShow()
{
    const QPoint pointer = QCursor::pos();
    const QScreen *screen = QGuiApplication::screenAt(pointer);
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 16, 1 << 16);
    const QSize size = frameGeometry().size();
    int left = pointer.x() + 40;
    if (area.right() + 1 - pointer.x() < size.width() + 40)
        left = pointer.x() - size.width() - 40;
    int top = pointer.y() + 20;
    if (area.bottom() + 1 - pointer.y() < size.height() + 20)
        top = pointer.y() - size.height() - 20;
    move(left, top);
    // The user goes on working in the main window; the hint only shows.
    if (QWidget *owner = parentWidget())
        owner->activateWindow();
}

void THintForm::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange)
        return;
    // The countdown runs only while the user works elsewhere.
    if (isActiveWindow())
        m_hideTimer.stop();
    else if (isVisible())
        m_hideTimer.start();
}

void THintForm::HintTimerTimer()
{
    if (--m_hideCount > 0)
        return;
    m_hideTimer.stop();
    hide();
}

bool THintForm::eventFilter(QObject *watched, QEvent *event)
{
    try {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto *e = static_cast<QMouseEvent *>(event);
            m_pressPoint = e->position().toPoint();
            m_pressed = e->button() == Qt::LeftButton;
        } else if (event->type() == QEvent::MouseButtonRelease) {
            m_pressed = false;
        } else if (event->type() == QEvent::MouseMove) {
            const auto *e = static_cast<QMouseEvent *>(event);
            const QPoint delta = e->position().toPoint() - m_pressPoint;
            if (m_pressed && (e->buttons() & Qt::LeftButton)
                    && (std::abs(delta.x()) >= kDragDistance
                            || std::abs(delta.y()) >= kDragDistance)) {
                m_pressed = false;
                dragSelected();
                return true;
            }
        }
    } catch (...) { }
    return QWidget::eventFilter(watched, event);
}

} // namespace veltrano
