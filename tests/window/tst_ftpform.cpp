#include <chrono>
#include <filesystem>
#include <thread>

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolBar>
#include <QTableView>

#include "ftp/scriptserver.h"
#include "modaldriver.h"
#include "support/tempdir.h"
#include "widgets/enhlistview.h"
#include "widgets/msgbox.h"
#include "widgets/panelstatusbar.h"
#include "window/ftpform.h"

using namespace veltrano;
namespace fs = std::filesystem;

namespace {

// Drops `mime` on the queue list as a copy, the way a drag from the result list ends.
bool dropOnQueue(TFtpForm &form, QMimeData *mime)
{
    QWidget *viewport = form.queueList()->reportView()->viewport();
    const QPoint at = viewport->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    return drop.isAccepted();
}

void clickTool(TFtpForm &form, const char *caption)
{
    for (QAction *action : form.toolBar()->actions())
        if (action->text() == QString::fromUtf8(caption))
            QTest::mouseClick(form.toolBar()->widgetForAction(action), Qt::LeftButton);
}

// Right-clicks the queue row and picks `caption` from the menu that opens.
void pickFromMenu(TFtpForm &form, int row, const char *caption)
{
    QTableView *view = form.queueList()->reportView();
    const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    test::onNext(true, [caption](QWidget *popup) {
        auto *menu = qobject_cast<QMenu *>(popup);
        for (QAction *action : menu->actions())
            if (action->text() == QString::fromUtf8(caption))
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &event);
}

} // namespace

class TestFtpForm : public QObject
{
    Q_OBJECT

private slots:
    // Newest line first, each in its colour: the connect attempt in navy, then the refused
    // connection in red above it.
    void logShowsNewestFirstInColour()
    {
        test::TempDir dir;
        TFtpForm form(CodePage("CP950"), QString::fromStdString(dir.path().string()));
        const uint16_t port = test::ScriptServer([](test::ScriptSession &) {}).port();
        form.ConnectSessions("127.0.0.1", "bob", std::to_string(port), "pw");
        QTRY_VERIFY(form.logEdit()->toPlainText().contains("錯誤"));
        const QTextDocument *doc = form.logEdit()->document();
        const QTextBlock last = doc->lastBlock();
        QCOMPARE(last.text(), QString("Thread0:以bob名稱,嘗試連線127.0.0.1..."));
        QCOMPARE(last.begin().fragment().charFormat().foreground().color(), QColor(0, 0, 0x80));
        const QTextBlock first = doc->firstBlock();
        QVERIFY2(first.text().startsWith("Thread:"), qPrintable(first.text()));
        QCOMPARE(first.begin().fragment().charFormat().foreground().color(), QColor(0xFF, 0, 0));
    }

    // Remote rows dropped on the queue become waiting rows; files of the desktop are refused.
    // The queue runs the row's job to its end and the status bar counts it.
    void droppedRowRunsThroughAWholeJob()
    {
        test::TempDir dir;
        const std::string data(300000, 'x');
        test::ScriptServer server([&](test::ScriptSession &s) {
            test::logOn(s);
            s.command();
            s.send("800 Ready\r\n");
            s.command();
            s.send("200 Type I\r\n");
            s.command();
            s.send(test::pasvReply(s.openPassive()));
            s.command();
            s.acceptData();
            s.send("150 Opening (300000 bytes)\r\n");
            s.sendData(data.substr(0, 120000));
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            s.sendData(data.substr(120000));
            s.closeData();
            s.send("226 Done\r\n");
        });
        TFtpForm form(CodePage("CP950"), QString::fromStdString(dir.path().string()));
        form.DownloadFolder = dir.path().string();
        form.engine().SetPassiveMode(true);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        auto *files = new QMimeData;
        files->setUrls({QUrl::fromLocalFile("/etc/hosts")});
        QVERIFY(!dropOnQueue(form, files));
        auto *rows = new QMimeData;
        rows->setData("application/x-veltrano-dragentry", "F\\\\PC1\\pub\\a.zip<293\n");
        QVERIFY(dropOnQueue(form, rows));
        delete files;
        delete rows;
        TEnhListModel *model = form.queueList()->model();
        QCOMPARE(model->count(), 1);
        QCOMPARE(model->cell(0, 0), std::string_view("\\\\PC1\\pub\\a.zip"));
        QCOMPARE(model->cell(0, 1), std::string_view("300032"));
        QCOMPARE(model->cell(0, 3), std::string_view((dir.path() / "a.zip").string()));
        QCOMPARE(model->cell(0, 4), std::string_view("準備"));
        QCOMPARE(model->image(0), 1);

        form.engine().ConnectSession(1, "127.0.0.1", "bob", std::to_string(server.port()), "pw");
        QTRY_VERIFY(form.engine().QueueFtpClient().State() == ftpReady
                && form.engine().QueueFtpClient().Connected());
        clickTool(form, "佇列");
        QTRY_COMPARE(model->cell(0, 4), std::string_view("工作"));
        QTRY_VERIFY(form.statusBar()->panel(0)->Text().contains("/293KB"));
        form.grab().save(
                QString::fromStdString((fs::temp_directory_path() / "ftpform.png").string()));
        QTRY_COMPARE_WITH_TIMEOUT(model->cell(0, 4), std::string_view("完成"), 10000);
        QCOMPARE(model->image(0), 2);
        QCOMPARE(model->cell(0, 6), std::string_view("1"));
        QCOMPARE(model->cell(0, 7), std::string_view("GET 1, FAIL 0"));
        QCOMPARE(form.statusBar()->panel(1)->Text(), QString("已下載1"));
        QCOMPARE(form.statusBar()->panel(3)->Text(), QString("失敗0"));
        QCOMPARE(test::readFile(dir.path() / "a.zip").size(), data.size());
        clickTool(form, "佇列");
    }

    // Deleting the running row stops only the file in transfer; the queue goes on, and a row
    // renewed from the menu waits again with no tries.
    void deletingTheRunningRowAndRenewingARow()
    {
        test::TempDir dir;
        test::ScriptServer server([&](test::ScriptSession &s) {
            test::logOn(s);
            s.command();
            s.send("800 Ready\r\n");
            s.command();
            s.send("200 Type I\r\n");
            s.command();
            s.send(test::pasvReply(s.openPassive()));
            s.command();
            s.acceptData();
            s.send("150 Opening\r\n");
            for (int i = 0; i < 40; ++i) {
                s.sendData(std::string(4096, 'y'));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            s.closeData();
            s.send("226 Done\r\n");
        });
        TFtpForm form(CodePage("CP950"), QString::fromStdString(dir.path().string()));
        form.DownloadFolder = dir.path().string();
        form.engine().SetPassiveMode(true);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *rows = new QMimeData;
        rows->setData("application/x-veltrano-dragentry", "F\\\\S\\run<160\nF\\\\S\\wait<1\n");
        QVERIFY(dropOnQueue(form, rows));
        delete rows;
        TEnhListModel *model = form.queueList()->model();
        QCOMPARE(model->count(), 2);
        // A header click reorders the queue itself: the timer takes the upper row.
        QHeaderView *header = form.queueList()->header();
        const QPoint sizeSection(header->sectionViewportPosition(1) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeSection);
        QCOMPARE(model->cell(0, 0), std::string_view("\\\\S\\wait"));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeSection);
        QCOMPARE(model->cell(0, 0), std::string_view("\\\\S\\run"));
        QCOMPARE(form.engine().queue().rows[0].size, 163840u);
        form.engine().ConnectSession(1, "127.0.0.1", "bob", std::to_string(server.port()), "pw");
        QTRY_VERIFY(form.engine().QueueFtpClient().Connected());
        clickTool(form, "佇列");
        QTRY_VERIFY(form.statusBar()->panel(0)->Text().contains("KB/160KB"));
        clickTool(form, "佇列"); // no further row may start while we look
        pickFromMenu(form, 0, "刪除工作");
        QTRY_COMPARE(model->count(), 1);
        QTRY_VERIFY(!form.engine().jobRunning());
        QVERIFY(!form.engine().rowRunning());
        QCOMPARE(form.engine().FailCount, 1u);
        QCOMPARE(model->cell(0, 0), std::string_view("\\\\S\\wait"));

        form.engine().queue().rows[0].tries = 2;
        form.engine().queue().rows[0].state = RowState::Failed;
        emit form.engine().queueChanged();
        pickFromMenu(form, 0, "更新工作");
        QTRY_COMPARE(model->cell(0, 4), std::string_view("準備"));
        QCOMPARE(model->cell(0, 6), std::string_view("0"));
        QCOMPARE(model->image(0), 1);
    }

    // Closing asks while connected (a new client rests in ftpReady, so nearly always); No
    // keeps the window, Yes hides it.
    void closingAsksFirst()
    {
        test::TempDir dir;
        TFtpForm form(CodePage("CP950"), QString::fromStdString(dir.path().string()));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        std::vector<std::string> asked;
        int answer = kIdNo;
        const MsgBoxPresenter previous = setMsgBoxPresenter([&](const MsgBoxRequest &request) {
            asked.push_back(request.text);
            return answer;
        });
        QVERIFY(!form.close());
        QVERIFY(form.isVisible());
        answer = kIdYes;
        QVERIFY(form.close());
        QVERIFY(!form.isVisible());
        setMsgBoxPresenter(previous);
        QCOMPARE(asked.size(), size_t(2));
        QCOMPARE(asked[0], std::string("仍然在連線中,是否確定要結束?"));
    }
};

QTEST_MAIN(TestFtpForm)
#include "tst_ftpform.moc"
