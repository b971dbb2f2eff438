// The main window's remote mode: the search server reached through the transfer window.
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QPalette>

#include "search/resultsave.h"
#include "store/searchhistory.h"
#include "store/searchrequest.h"
#include "transfer/transfertext.h"
#include "util/error.h"
#include "util/resstr.h"
#include "widgets/dropfilesource.h"
#include "widgets/enhlistview.h"
#include "widgets/msgbox.h"
#include "window/brwfolderform.h"
#include "window/findanimation.h"
#include "window/ftpform.h"
#include "window/hintform.h"
#include "window/mainform.h"
#include "window/resultlist.h"
#include "window/searchpage.h"
#include "window/wherecombobox.h"

namespace veltrano {
namespace {

constexpr const char *kDragEntryMime = "application/x-veltrano-dragentry";
constexpr size_t kRemoteNameLimit = 255;

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A decimal number of KB as bytes; anything else is 0, as is a size too big for the request.
uint32_t kilobytesToBytes(std::string_view text)
{
    uint64_t kb = 0;
    if (text.empty())
        return 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 0;
        kb = kb * 10 + uint64_t(c - '0');
        if (kb > (UINT32_MAX >> 10))
            return 0;
    }
    return uint32_t(kb << 10);
}

// Cut to at most `limit` bytes without splitting a character of the code page.
std::string cutName(const std::string &bytes, const CodePage &cp)
{
    std::string cut;
    copyText(cut, bytes, cp, kRemoteNameLimit);
    return cut;
}

} // namespace

void TMainForm::BitBtn8Click()
{
    if (m_setup.Source != kSourceLocal)
        enterRemoteMode();
    else
        leaveRemoteMode();
}

void TMainForm::enterRemoteMode()
{
    m_remoteMode = true;
    const std::string port = std::to_string(m_setup.RemotePort);
    try {
        if (m_ftpForm) {
            passDownloadSettings();
            m_ftpForm->ReconnectSessions(
                    m_setup.RemoteHost, m_setup.RemoteUser, port, m_setup.RemotePassword);
        } else {
            createFtpForm();
            m_ftpForm->show();
            m_ftpForm->ConnectSessions(
                    m_setup.RemoteHost, m_setup.RemoteUser, port, m_setup.RemotePassword);
        }
        m_ftpForm->engine().SetPassiveMode(m_setup.PassiveMode != 0);
    } catch (const std::exception &error) {
        // A client still busy with a request: the window says so and keeps its state.
        MsgBox(this, error.what(), mkError);
    }
    // Locations are folders of this machine's cache: they mean nothing to the server.
    TWhereComboBox *where = m_searchPage->whereBox();
    QPalette palette = where->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    where->setPalette(palette);
    where->setEnabled(false);
}

void TMainForm::leaveRemoteMode()
{
    m_remoteMode = false;
    TWhereComboBox *where = m_searchPage->whereBox();
    QPalette palette = where->palette();
    palette.setColor(QPalette::Base, QApplication::palette(where).color(QPalette::Base));
    where->setPalette(palette);
    where->setEnabled(true);
    // The transfer window stays open and connected: its queue may still be running.
    if (m_ftpForm)
        passDownloadSettings();
}

void TMainForm::createFtpForm()
{
    m_ftpForm = new TFtpForm(m_programCodePage, QString::fromStdString(m_programFolder), this);
    QFont font = m_ftpForm->font();
    if (m_setup.FontSize > 0)
        font.setPointSize(m_setup.FontSize);
    m_ftpForm->setFont(font);
    TransferEngine &engine = m_ftpForm->engine();
    // Called from inside the clients' event delivery: nothing may escape into it.
    engine.OnFindResults = [this] {
        try {
            RemoteFound();
        } catch (...) { }
    };
    engine.OnFindDone = [this] {
        try {
            RemoteSearchDone();
        } catch (...) { }
    };
    // A search the server refused, or one whose request failed, never reaches its end
    // otherwise: the window would stay searching and refuse every later search.
    connect(&engine, &TransferEngine::searchFailed, this, [this](const QString &reply) {
        if (!m_searching)
            return;
        RemoteSearchDone();
        m_panel1->setText(reply);
    });
    passDownloadSettings();
    m_hintForm->FtpForm = m_ftpForm;

    m_downloadTimer.setInterval(500);
    m_downloadTimer.setSingleShot(false);
    connect(&m_downloadTimer, &QTimer::timeout, this, [this] {
        try {
            DownloadTimerTimer();
        } catch (const std::exception &error) {
            MsgBox(this, error.what(), mkError);
        }
    });
}

void TMainForm::passDownloadSettings()
{
    m_ftpForm->DownloadFolder = m_programCodePage.toUtf8(m_setup.DownloadFolder);
    m_ftpForm->engine().TryCount = m_setup.TryCount;
}

void TMainForm::startRemoteSearch(int32_t options, int32_t minHits)
{
    const std::string command = buildCommand(m_searchPage->displayedTexts());
    const std::optional<std::string> wire = m_programCodePage.fromUtf8(command);
    try {
        // A key changed to '?' on the way would search for something else.
        if (!wire)
            throw Error(tr("關鍵值含有伺服器無法接收的字元").toStdString());
        if (!m_ftpForm)
            throw Error(tr("FTP仍在工作或尚未準備好").toStdString());
        SearchOptions searchOptions;
        searchOptions.Options = options;
        searchOptions.MinHits = minHits;
        m_ftpForm->engine().StartRemoteSearch(remoteSearchArgument(*wire, searchOptions));
    } catch (const std::exception &error) {
        m_animate->setActive(false);
        m_searching = false;
        MsgBox(this, error.what(), mkError);
    }
}

void TMainForm::RemoteFound()
{
    if (!m_ftpForm)
        return;
    const TransferEngine &engine = m_ftpForm->engine();
    TEnhListModel *model = m_listView->model();
    for (const TItemData &item : engine.ResultList()) {
        const ResultRow row = resultRowOf(item, {}, m_programCodePage);
        const int image = item.isDirectory() ? kFolderImage
                                             : FileIconIndex(row.name, m_smallImages, m_extList);
        // The server's rows have no node: no location, no date and no key.
        const std::array<std::string_view, rcCount> cells = {
                row.name, row.ext, row.size, row.folder, {}, {}, {}};
        model->stage(image, cells);
    }
    model->flush();
    m_panel0->setText(qs(FmtResStr(kStrItemsFound, std::to_string(model->count()))));
    m_panel1->setText(qs(FmtResStr(kStrFiles, std::to_string(engine.FoundFiles()))
            + FmtResStr(kStrFolders, std::to_string(engine.FoundFolders()))));
}

void TMainForm::RemoteSearchDone()
{
    m_animate->setActive(false);
    m_searching = false;
    m_panel0->setText(
            qs(FmtResStr(kStrItemsFoundTotal, std::to_string(m_listView->model()->count()))));
    emit searchEnded();
}

void TMainForm::openRemoteRow(int row)
{
    if (!m_ftpForm)
        return;
    const TEnhListModel *model = m_listView->model();
    TItemData item;
    item.Size = kilobytesToBytes(model->cell(row, rcSize));
    item.Attr = model->image(row) == kFolderImage ? kAttrDirectory : 0;
    item.Time = 0;
    const std::string path =
            std::string(model->cell(row, rcFolder)) + std::string(model->cell(row, rcName));
    item.setName(cutName(m_programCodePage.fromUtf8Lossy(path), m_programCodePage));
    m_ftpForm->OpenRemoteItem(item);
}

QStringList TMainForm::dragEntriesOf(const std::vector<int> &rows) const
{
    const TEnhListModel *model = m_listView->model();
    QStringList entries;
    for (const int row : rows) {
        DragEntry entry;
        entry.folder = model->image(row) == kFolderImage;
        entry.path =
                std::string(model->cell(row, rcFolder)) + std::string(model->cell(row, rcName));
        entry.sizeKb = entry.folder ? 0 : kilobytesToBytes(model->cell(row, rcSize)) >> 10;
        std::string text = formatDragEntry(entry);
        if (entry.folder)
            text.resize(text.find('<') + 1); // a folder has no size
        entries.append(QString::fromStdString(text));
    }
    return entries;
}

void TMainForm::dragRemoteEntries(const QStringList &entries)
{
    if (entries.isEmpty())
        return;
    m_dropSource->Files = entries;
    m_dropSource->EntryFormat = QString::fromLatin1(kDragEntryMime);
    const TDragResult result = m_dropSource->Execute(this);
    m_dropSource->EntryFormat.clear();
    // Only the transfer window's queue takes remote entries. Whatever else happened to the drag
    // (a drop on the desktop, or a cancel that cannot be told from one), the entries are asked
    // a folder for.
    if (result != drDropCopy && m_ftpForm)
        m_downloadTimer.start();
}

void TMainForm::DownloadTimerTimer()
{
    m_downloadTimer.stop();
    if (!m_ftpForm)
        return;
    TBrwFolderForm browser(this);
    browser.setFont(font());
    QString start = qs(m_programCodePage.toUtf8(m_setup.DownloadFolder));
    if (start.size() > 1 && start.endsWith(QLatin1Char('/')))
        start.chop(1);
    browser.setPath(start);
    browser.exec();
    if (!browser.isAccepted())
        return;
    QString target = browser.path();
    if (!target.endsWith(QLatin1Char('/')))
        target += QLatin1Char('/');
    TItemList requests;
    for (const QString &text : m_dropSource->Files) {
        const std::optional<DragEntry> entry =
                parseDragEntry(m_programCodePage.fromUtf8Lossy(text.toStdString()));
        if (!entry)
            continue;
        TItemData item;
        item.Attr = entry->folder ? kAttrDirectory : 0;
        item.Size = entry->folder ? 0 : uint32_t(uint64_t(entry->sizeKb) << 10);
        item.Time = 0;
        item.setName(cutName(entry->path, m_programCodePage));
        requests.push_back(item);
    }
    // The next browse starts where this one ended; a folder the settings cannot hold whole is
    // used but not remembered.
    const std::optional<std::string> stored = m_programCodePage.fromUtf8(target.toStdString());
    if (stored && stored->size() <= kSetupTextLimit) {
        m_setup.DownloadFolder = *stored;
        passDownloadSettings();
    }
    if (!requests.empty())
        m_ftpForm->engine().DownloadItems(requests, target.toStdString());
}

} // namespace veltrano
