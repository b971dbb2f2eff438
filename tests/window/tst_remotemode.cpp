// The main window's remote mode against veltrano-server on 127.0.0.1: entering it through the
// proxy dialog, searches, Stop, opening, dragging rows out, the hint's remote listing and the
// transfer window's buttons.
#include <filesystem>
#include <mutex>

#include <crypt.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDrag>
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>
#include <QTableView>

#include "cache/collector.h"
#include "cache/synthcache.h"
#include "mainformtest.h"
#include "modaldriver.h"
#include "server/serverprocess.h"
#include "support/tempdir.h"
#include "widgets/dropfilesource.h"
#include "widgets/enhlistview.h"
#include "widgets/msgbox.h"
#include "widgets/panelstatusbar.h"
#include "widgets/systemtreeview.h"
#include "window/brwfolderform.h"
#include "window/findanimation.h"
#include "window/ftpform.h"
#include "window/ftpopenform.h"
#include "window/historypage.h"
#include "window/mainform.h"
#include "window/optionspage.h"
#include "window/proxyform.h"
#include "window/resultlist.h"
#include "window/searchpage.h"
#include "window/shellopen.h"
#include "window/wherecombobox.h"

using namespace veltrano;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kLargeSize = 48u << 20;

void retype(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void clickIndicator(QAbstractButton *button)
{
    QTest::mouseClick(
            button, Qt::LeftButton, {}, QPoint(button->height() / 2, button->height() / 2));
}

void clickTool(TFtpForm *form, const char *caption)
{
    for (QAction *action : form->toolBar()->actions())
        if (action->text() == QString::fromUtf8(caption))
            QTest::mouseClick(form->toolBar()->widgetForAction(action), Qt::LeftButton);
}

QPoint rowCenter(TEnhListView *list, int row)
{
    return list->reportView()->visualRect(list->model()->index(row, 0)).center();
}

// Saved where VELTRANO_SHOTS points (a run under Xvfb for the record), else nowhere.
void shoot(QWidget *window, const char *name)
{
    const QByteArray folder = qgetenv("VELTRANO_SHOTS");
    if (!folder.isEmpty())
        window->grab().save(QString::fromLocal8Bit(folder) + "/" + name);
}

} // namespace

class TestRemoteMode : public test::MainFormTest
{
    Q_OBJECT

    fs::path m_downloads;
    fs::path m_share;
    std::unique_ptr<test::ServerProcess> m_docs; // the collected share, served
    std::unique_ptr<test::ServerProcess> m_many; // a large synthetic cache
    std::mutex m_mutex;
    std::vector<QUrl> m_opened;
    bool m_dropOnQueue = true;
    QStringList m_dragFormats;

    TEnhListView *list() const { return m_form->resultList(); }
    QWidget *viewport() const { return list()->reportView()->viewport(); }
    TFtpForm *ftp() const { return m_form->ftpForm(); }
    QString cell(int row, int column) const
    {
        return QString::fromStdString(std::string(list()->model()->cell(row, column)));
    }
    int rowOf(const QString &name) const
    {
        for (int row = 0; row < list()->model()->count(); ++row)
            if (cell(row, rcName) == name)
                return row;
        return -1;
    }

    // The proxy dialog by the user's clicks: the remote source on `port`, or the local one.
    void confirmProxy(bool remote, uint16_t port = 0)
    {
        m_form->pages()->setCurrentWidget(m_form->optionsPage());
        test::onNextModal([remote, port](QWidget *dialog) {
            auto *form = qobject_cast<TProxyForm *>(dialog);
            if (remote) {
                retype(form->hostEdit(), "127.0.0.1");
                retype(form->userEdit(), "bob");
                retype(form->passwordEdit(), "pw");
                retype(form->portEdit(), QString::number(port));
                if (!form->passiveBox()->isChecked())
                    clickIndicator(form->passiveBox());
            }
            clickIndicator(remote ? form->remoteButton() : form->localButton());
            QTest::mouseClick(form->okButton(), Qt::LeftButton);
        });
        QTest::mouseClick(m_form->optionsPage()->proxyButton(), Qt::LeftButton);
        m_form->pages()->setCurrentWidget(m_form->searchPage());
    }
    bool connected() const
    {
        TransferEngine &engine = ftp()->engine();
        return engine.DirFtpClient().Connected() && engine.QueueFtpClient().Connected()
                && engine.DirFtpClient().State() == ftpReady
                && engine.QueueFtpClient().State() == ftpReady;
    }
    void typeSearch(const QString &key)
    {
        QComboBox *box = m_form->searchPage()->textBox(0);
        box->setEditText(key);
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    }
    // A real press and a move of 10 pixels with the button held, as a drag begins.
    void dragRows(const QStringList &names)
    {
        list()->reportView()->clearSelection();
        for (const QString &name : names)
            QTest::mouseClick(viewport(), Qt::LeftButton, Qt::ControlModifier,
                    rowCenter(list(), rowOf(name)));
        const QPoint from = rowCenter(list(), rowOf(names.front()));
        QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, from + QPoint(0, 10),
                viewport()->mapToGlobal(from + QPoint(0, 10)), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(viewport(), &move);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, from + QPoint(0, 10));
    }

private slots:
    void initTestCase()
    {
        takeOverHome([](const MsgBoxRequest &request) {
            return request.kind == mkQuestion ? kIdYes : kIdOk;
        });
        m_downloads = m_home.path() / "downloads";
        fs::create_directories(m_downloads);
        m_share = m_home.path() / "docs";
        fs::create_directories(m_share / "sub");
        fs::create_directories(m_share / "deep" / "inner");
        test::writeFile(m_share / "report.txt", std::string(5000, 'r'));
        test::writeFile(m_share / "報告e.txt", "chinese");
        test::writeFile(m_share / "sub" / "notes.txt", std::string(2048, 'n'));
        test::writeFile(m_share / "deep" / "x.bin", std::string(3000, 'x'));
        test::writeFile(m_share / "deep" / "inner" / "y.bin", "y");
        std::string large(kLargeSize, '\0');
        for (size_t i = 0; i < large.size(); ++i)
            large[i] = char(i * 7 + (i >> 13));
        test::writeFile(m_share / "large.iso", large);

        CollectOptions options;
        options.cacheRoot = m_home.path() / "Cache"; // the window's own cache too
        options.resolveAddresses = false;
        collectShares({parseShareSpec("\\\\PC1\\docs=" + m_share.string())}, options);
        generateSynthCache(m_home.path() / "many", SynthCacheSpec::sized(40000, 600, 4));
        test::writeFile(m_home.path() / "shares", "\\\\PC1\\docs=" + m_share.string() + "\n");
        test::writeFile(m_home.path() / "users",
                std::string("bob:") + crypt("pw", crypt_gensalt("$y$", 0, nullptr, 0)) + "\n");
        const auto serve = [this](const fs::path &cache) {
            return std::make_unique<test::ServerProcess>(std::vector<std::string>{"--cache",
                    cache.string(), "--shares", (m_home.path() / "shares").string(), "--users",
                    (m_home.path() / "users").string()});
        };
        m_docs = serve(m_home.path() / "Cache");
        m_many = serve(m_home.path() / "many");
        QVERIFY(m_docs->up() && m_many->up());

        // The viewer of the suite, beside the program: it notes what it was asked to open.
        test::writeFile(m_home.path() / "sorvath",
                "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/viewed\"\n");
        fs::permissions(m_home.path() / "sorvath", fs::perms::owner_all);

        setShellOpen([this](const QUrl &url) {
            std::lock_guard lock(m_mutex);
            m_opened.push_back(url);
            return 0;
        });
        TDropFileSource::setExecutor([this](QDrag &drag, Qt::DropActions allowed) {
            m_dragFormats = drag.mimeData()->formats();
            if (!m_dropOnQueue)
                return Qt::IgnoreAction;
            QWidget *queue = ftp()->queueList()->reportView()->viewport();
            const QPoint at = queue->rect().center();
            QDragEnterEvent enter(at, allowed, drag.mimeData(), Qt::LeftButton, {});
            QApplication::sendEvent(queue, &enter);
            if (!enter.isAccepted())
                return Qt::IgnoreAction;
            QDropEvent drop(at, allowed, drag.mimeData(), Qt::LeftButton, {});
            QApplication::sendEvent(queue, &drop);
            return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
        });

        defaultRecords(m_downloads.string() + "/");
        m_form = std::make_unique<TMainForm>(m_setup, m_common, m_folder);
        m_form->FormCreate();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QVERIFY(!m_form->remoteMode());
        QVERIFY(!ftp());
    }

    void cleanupTestCase()
    {
        TDropFileSource::setExecutor({});
        setShellOpen({});
        m_form.reset();
    }

    // 停止 in local mode once took the pictures away from the rows for the rest of the run.
    void localStopKeepsTheRowPictures()
    {
        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
        typeSearch("report");
        QVERIFY(ended.wait(10000));
        QCOMPARE(list()->model()->count(), 1);
        QTest::mouseClick(m_form->stopButton(), Qt::LeftButton);
        const QModelIndex first = list()->model()->index(0, 0);
        QVERIFY(!list()->model()->data(first, Qt::DecorationRole).value<QIcon>().isNull());
    }

    // The first entry creates the transfer window; Stop ends a search that is pouring in, and
    // the window is ready for the next one.
    void stopEndsARemoteSearch()
    {
        confirmProxy(true, m_many->port());
        QVERIFY(m_form->remoteMode());
        QVERIFY(ftp() && ftp()->isVisible());
        QVERIFY(!m_form->searchPage()->whereBox()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(connected(), 10000);

        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
        typeSearch("a");
        QVERIFY(m_form->searching());
        QTest::mouseClick(m_form->stopButton(), Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        QVERIFY(!m_form->searching());
        QVERIFY(!m_form->animation()->active());
        QCOMPARE(list()->model()->count(), 0); // cut before the stream was whole
        QCOMPARE(m_form->statusText(0), QStringLiteral("總共搜尋到 0 項目"));

        // Not stopped, the same search lists what the stream's buffer holds.
        typeSearch("a");
        QVERIFY(ended.wait(10000));
        const int rows = list()->model()->count();
        QVERIFY(rows > 1000);
        QCOMPARE(m_form->statusText(0), QStringLiteral("總共搜尋到 %1 項目").arg(rows));
        QVERIFY(m_boxes.empty());
    }

    // Confirming the remote source again reconnects the same window to the new server; the
    // local source enables the locations again and leaves the transfer window connected.
    void proxyDialogSwitchesServersAndModes()
    {
        TFtpForm *first = ftp();
        confirmProxy(true, m_docs->port());
        QCOMPARE(ftp(), first);
        QVERIFY(ftp()->logEdit()->toPlainText().contains("Thread1:結束連線"));
        QTRY_VERIFY_WITH_TIMEOUT(connected(), 10000);
        QCOMPARE(ftp()->engine().DirFtpClient().Port, std::to_string(m_docs->port()));

        confirmProxy(false);
        QVERIFY(!m_form->remoteMode());
        QVERIFY(m_form->searchPage()->whereBox()->isEnabled());
        QVERIFY(ftp()->isVisible());
        QVERIFY(connected());

        confirmProxy(true, m_docs->port());
        QVERIFY(m_form->remoteMode());
        QTRY_VERIFY_WITH_TIMEOUT(connected(), 10000);
        QVERIFY(m_boxes.empty());
    }

    void remoteSearchFillsTheResultList()
    {
        const int searchesBefore = m_form->historyPage()->listView()->model()->count();
        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
        typeSearch("e");
        QVERIFY(ended.wait(10000));
        struct Row
        {
            const char *name, *ext, *size, *folder;
            bool isFolder;
        };
        const Row expected[] = {
                {"deep", "", "", "\\\\PC1\\docs\\", true},
                {"inner", "", "", "\\\\PC1\\docs\\deep\\", true},
                {"large.iso", ".iso", "49152", "\\\\PC1\\docs\\", false},
                {"notes.txt", ".txt", "2", "\\\\PC1\\docs\\sub\\", false},
                {"report.txt", ".txt", "4", "\\\\PC1\\docs\\", false},
                {"報告e.txt", ".txt", "0", "\\\\PC1\\docs\\", false},
        };
        QCOMPARE(list()->model()->count(), int(std::size(expected)));
        for (const Row &want : expected) {
            const int row = rowOf(QString::fromUtf8(want.name));
            QVERIFY2(row >= 0, want.name);
            QCOMPARE(cell(row, rcExt), QString::fromUtf8(want.ext));
            QCOMPARE(cell(row, rcSize), QString::fromUtf8(want.size));
            QCOMPARE(cell(row, rcFolder), QString::fromUtf8(want.folder));
            QCOMPARE(list()->model()->image(row) == kFolderImage, want.isFolder);
            // A server's row has no location, no date and no node.
            QVERIFY(cell(row, rcLocation).isEmpty() && cell(row, rcDate).isEmpty()
                    && cell(row, rcResultKey).isEmpty());
        }
        QCOMPARE(m_form->statusText(0), QStringLiteral("總共搜尋到 6 項目"));
        QCOMPARE(m_form->statusText(1), QStringLiteral("4 檔案 2 資料夾 "));
        QCOMPARE(m_form->historyPage()->listView()->model()->count(), searchesBefore + 1);
        shoot(m_form.get(), "shot-remote.png");

        // Row 2 is not in use, so its key is not examined here; the server refuses the twelve
        // elements it makes. The search ends all the same, with the server's answer.
        m_form->searchPage()->textBox(1)->setEditText("x;y");
        typeSearch("e");
        QVERIFY(ended.wait(10000));
        m_form->searchPage()->textBox(1)->setEditText(QString());
        QVERIFY(!m_form->searching());
        QVERIFY2(m_form->statusText(1).startsWith("501 "), qPrintable(m_form->statusText(1)));
        // A key the wire's code page cannot carry would arrive as '?', another search.
        typeSearch(QStringLiteral("\U0001F600"));
        QCOMPARE(m_boxes.size(), size_t(1));
        QVERIFY(!m_form->searching());
        m_boxes.clear();
        typeSearch("e");
        QVERIFY(ended.wait(10000));
        QCOMPARE(m_form->statusText(0), QStringLiteral("總共搜尋到 6 項目"));
    }

    // Opening a remote row asks download-and-open or download; the first downloads it into
    // the download folder and hands it to the viewer beside the program.
    void openingARemoteRowDownloadsAndViewsIt()
    {
        QString asked;
        test::onNextModal([&](QWidget *dialog) {
            auto *form = qobject_cast<TFtpOpenForm *>(dialog);
            asked = form->fileMemo()->toPlainText();
            QTest::mouseClick(form->okButton(), Qt::LeftButton);
        });
        // 停止 while no search runs leaves the download alone.
        QMetaObject::Connection stop = connect(&ftp()->engine(), &TransferEngine::gaugeChanged,
                this, [&](bool enabled, int percent) {
                    if (enabled && percent > 0) {
                        disconnect(stop);
                        QTest::mouseClick(m_form->stopButton(), Qt::LeftButton);
                    }
                });
        const int row = rowOf("large.iso");
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, rowCenter(list(), row));
        QTest::mouseDClick(viewport(), Qt::LeftButton, {}, rowCenter(list(), row));
        QVERIFY2(asked.endsWith(QStringLiteral("\n\\\\PC1\\docs\\large.iso")), qPrintable(asked));
        QTRY_VERIFY_WITH_TIMEOUT(!ftp()->engine().jobRunning(), 30000);
        QCOMPARE(ftp()->engine().DoneCount, 1u);
        QCOMPARE(test::readFile(m_downloads / "large.iso"), test::readFile(m_share / "large.iso"));
        QTRY_COMPARE(
                test::readFile(m_home.path() / "viewed"), (m_downloads / "large.iso").string());
        QVERIFY(m_boxes.empty());
    }

    // Remote rows dragged onto the queue list become its rows, which 佇列 fetches; dropped
    // anywhere else they ask for a folder, go there, and the next browse starts in it.
    void draggedRowsQueueOrAskForAFolder()
    {
        fs::remove(m_downloads / "large.iso"); // queue rows resume what is there
        m_dropOnQueue = true;
        dragRows({"large.iso", "deep"});
        QCOMPARE(m_dragFormats, QStringList({"application/x-veltrano-dragentry"}));
        // In the result list's order.
        const TEnhListModel *queue = ftp()->queueList()->model();
        QCOMPARE(queue->count(), 2);
        const int file = rowOf("large.iso") < rowOf("deep") ? 0 : 1;
        QCOMPARE(queue->cell(file, 0), std::string_view("\\\\PC1\\docs\\large.iso"));
        QCOMPARE(queue->cell(file, 1), std::string_view("50331648"));
        QCOMPARE(queue->cell(1 - file, 0), std::string_view("\\\\PC1\\docs\\deep"));
        QCOMPARE(queue->cell(1 - file, 1), std::string_view("DIR"));
        QCOMPARE(queue->cell(1 - file, 3), std::string_view((m_downloads / "deep").string()));
        QVERIFY(!m_form->downloadTimer()->isActive());

        bool shot = false;
        const QMetaObject::Connection hook = connect(&ftp()->engine(),
                &TransferEngine::gaugeChanged, this, [&](bool enabled, int percent) {
                    if (enabled && percent >= 30 && !shot
                            && ftp()->statusBar()->panel(0)->Text().contains("/48MB")) {
                        shot = true;
                        shoot(ftp(), "shot-transfer.png");
                    }
                });
        clickTool(ftp(), "佇列");
        QTRY_VERIFY_WITH_TIMEOUT(queue->cell(0, 4) == "完成" && queue->cell(1, 4) == "完成", 30000);
        clickTool(ftp(), "佇列");
        disconnect(hook);
        QVERIFY(shot);
        QCOMPARE(queue->cell(file, 7), std::string_view("GET 1, FAIL 0"));
        QCOMPARE(queue->cell(1 - file, 7), std::string_view("GET 2, FAIL 0"));
        QCOMPARE(test::readFile(m_downloads / "large.iso"), test::readFile(m_share / "large.iso"));
        QCOMPARE(test::readFile(m_downloads / "deep" / "inner" / "y.bin"), std::string("y"));

        m_dropOnQueue = false;
        const fs::path picked = m_downloads / "picked";
        fs::create_directories(picked);
        QString startedAt;
        test::onNextModal([&](QWidget *dialog) {
            auto *browser = qobject_cast<TBrwFolderForm *>(dialog);
            startedAt = browser->tree()->GetSelection();
            browser->tree()->SetSelection(QString::fromStdString(picked.string()));
            QTest::keyClick(browser, Qt::Key_Return);
        });
        dragRows({"report.txt", "deep"});
        QTRY_VERIFY(!startedAt.isEmpty());
        QCOMPARE(startedAt, QString::fromStdString(m_downloads.string()));
        QTRY_VERIFY_WITH_TIMEOUT(!ftp()->engine().jobRunning(), 10000);
        QCOMPARE(ftp()->engine().DoneCount, 3u);
        QCOMPARE(test::readFile(picked / "report.txt"), test::readFile(m_share / "report.txt"));
        QCOMPARE(test::readFile(picked / "deep" / "inner" / "y.bin"), std::string("y"));
        QCOMPARE(m_setup.DownloadFolder, picked.string() + "/");

        startedAt.clear();
        test::onNextModal([&](QWidget *dialog) {
            auto *browser = qobject_cast<TBrwFolderForm *>(dialog);
            startedAt = browser->tree()->GetSelection();
            QTest::mouseClick(browser->cancelButton(), Qt::LeftButton);
        });
        dragRows({"report.txt"});
        QTRY_COMPARE(startedAt, QString::fromStdString(picked.string()));
        QVERIFY(m_boxes.empty());
    }

    // The hint lists a remote folder through the transfer window, folders first, and goes
    // down into a folder with a double click.
    void hintListsRemoteFolders()
    {
        const int row = rowOf("report.txt");
        QTest::mouseMove(viewport(), rowCenter(list(), row));
        THintForm *hint = m_form->hintForm();
        QTRY_VERIFY(hint->isVisible());
        const TEnhListModel *rows = hint->listView()->model();
        QTRY_COMPARE(rows->count(), 6);
        const std::vector<std::string> names = {
                "..", "deep", "sub", "large.iso", "report.txt", "報告e.txt"};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(std::string(rows->cell(i, 0)), names[size_t(i)]);
        QCOMPARE(hint->windowTitle(), QStringLiteral("\\\\PC1\\docs\\"));
        QCOMPARE(std::string(rows->cell(4, 2)), std::string("4"));

        hint->listView()->setViewStyle(3);
        QTableView *view = hint->listView()->reportView();
        const QPoint deep = view->visualRect(view->model()->index(1, 0)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, deep);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, deep);
        QTRY_COMPARE(hint->windowTitle(), QStringLiteral("\\\\PC1\\docs\\deep\\"));
        QTRY_COMPARE(std::string(hint->listView()->model()->cell(1, 0)), std::string("inner"));
        QCOMPARE(std::string(hint->listView()->model()->cell(2, 0)), std::string("x.bin"));

        // Dragged out of the hint, a remote file travels as the server's entry too.
        m_dropOnQueue = true;
        const int queued = ftp()->queueList()->model()->count();
        const QPoint file = view->visualRect(view->model()->index(2, 0)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, file);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, file);
        QMouseEvent move(QEvent::MouseMove, file + QPoint(10, 0),
                view->viewport()->mapToGlobal(file + QPoint(10, 0)), Qt::NoButton, Qt::LeftButton,
                {});
        QApplication::sendEvent(view->viewport(), &move);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, file + QPoint(10, 0));
        const TEnhListModel *queue = ftp()->queueList()->model();
        QCOMPARE(queue->count(), queued + 1);
        QCOMPARE(queue->cell(queued, 0), std::string_view("\\\\PC1\\docs\\deep\\x.bin"));
        QCOMPARE(queue->cell(queued, 1), std::string_view("2048")); // 3000 bytes, 2 KB listed
    }

    // 斷線 ends both sessions, 重連 logs both on again (a second one is refused), 檔案 opens the
    // download folder, and 放棄 cuts a download short.
    void transferWindowButtons()
    {
        TFtpForm *form = ftp();
        clickTool(form, "斷線");
        QTRY_VERIFY(!form->engine().DirFtpClient().Connected()
                && !form->engine().QueueFtpClient().Connected());
        QVERIFY(form->logEdit()->toPlainText().contains("Thread1:通話層結束"));
        clickTool(form, "重連");
        QTRY_VERIFY_WITH_TIMEOUT(connected(), 10000);
        QVERIFY(m_boxes.empty());
        clickTool(form, "重連");
        QCOMPARE(m_boxes.size(), size_t(1));
        QVERIFY2(m_boxes[0].text.find("already connected") != std::string::npos,
                m_boxes[0].text.c_str());
        m_boxes.clear();

        form->DownloadFolder = m_downloads.string();
        clickTool(form, "檔案");
        QTRY_COMPARE(m_opened.size(), size_t(1));
        QCOMPARE(m_opened[0], QUrl::fromLocalFile(QString::fromStdString(m_downloads.string())));

        // 中斷 stops the file in transfer and keeps the connection; 放棄 drops both.
        for (const auto &[button, staysConnected] :
                std::vector<std::pair<const char *, bool>>{{"中斷", true}, {"放棄", false}}) {
            const fs::path cut = m_downloads / button;
            fs::create_directories(cut);
            TItemData item;
            item.Size = kLargeSize;
            item.setName("\\\\PC1\\docs\\large.iso");
            QMetaObject::Connection first = connect(&form->engine(),
                    &TransferEngine::gaugeChanged, this, [&](bool enabled, int percent) {
                        if (enabled && percent > 0) {
                            disconnect(first);
                            clickTool(form, button);
                        }
                    });
            form->engine().DownloadItem(item, cut.string());
            QTRY_VERIFY_WITH_TIMEOUT(!form->engine().jobRunning(), 10000);
            QCOMPARE(form->engine().DoneCount, 0u);
            QCOMPARE(form->engine().FailCount, 1u);
            QVERIFY(fs::file_size(cut / "large.iso") < kLargeSize);
            QTRY_COMPARE(form->engine().QueueFtpClient().Connected(), staysConnected);
        }
    }

    // Stored settings of the remote source connect at start; closing the main window closes
    // the transfer window first, whose No keeps both open.
    void startsInRemoteModeAndClosesTheTransferWindowFirst()
    {
        TSetupInfo setup = m_setup;
        setup.Source = kSourceRemote;
        setup.RemoteHost = "127.0.0.1";
        setup.RemotePort = m_docs->port();
        setup.RemoteUser = "bob";
        setup.RemotePassword = "pw";
        setup.PassiveMode = 1;
        TMainForm form(setup, m_common, m_folder);
        form.FormCreate();
        form.show();
        QVERIFY(form.remoteMode() && form.ftpForm() && form.ftpForm()->isVisible());
        QVERIFY(!form.searchPage()->whereBox()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(form.ftpForm()->engine().DirFtpClient().Connected(), 10000);

        m_boxes.clear();
        setMsgBoxPresenter([this](const MsgBoxRequest &request) {
            m_boxes.push_back(request);
            return kIdNo;
        });
        QVERIFY(!form.close());
        QVERIFY(form.isVisible() && form.ftpForm()->isVisible());
        setMsgBoxPresenter([this](const MsgBoxRequest &request) {
            m_boxes.push_back(request);
            return kIdYes;
        });
        QVERIFY(form.close());
        QVERIFY(!form.ftpForm()->isVisible());
        QCOMPARE(m_boxes.size(), size_t(2));
        QCOMPARE(m_boxes[0].text, std::string("仍然在連線中,是否確定要結束?"));
    }
};

QTEST_MAIN(TestRemoteMode)
#include "tst_remotemode.moc"
