#include <mutex>

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTableView>

#include "mainformtest.h"
#include "modaldriver.h"
#include "net/ping.h"
#include "search/resultsave.h"
#include "support/cachefixture.h"
#include "support/clirun.h"
#include "support/tempdir.h"
#include "util/resstr.h"
#include "widgets/dropfilesource.h"
#include "widgets/enhlistview.h"
#include "widgets/msgbox.h"
#include "window/hintform.h"
#include "window/mainform.h"
#include "window/resultlist.h"
#include "window/searchpage.h"
#include "window/shellopen.h"

using namespace veltrano;

namespace {

constexpr const char *kPc1 = "167837953"; // 10.1.1.1 as one number
constexpr const char *kPc2 = "167903746"; // 10.2.2.2

TNodeData pingable(const char *name, const char *address)
{
    TNodeData node = test::makeNode(name, name, test::indexedKind());
    node.Address = address;
    node.AddrKind = kAddrKindPingable;
    return node;
}

// PC1 and PC2 answer echoes (when the fake says so); LOCAL was collected from a drive letter;
// PC3's share is mounted here through SHARES.MAP.
void writeCache(const std::string &root, bool withPc2 = true)
{
    const CodePage utf8("UTF-8");
    std::filesystem::create_directories(root);
    writeCodePageMarker(root, "UTF-8");
    IndexPairWriter pc1;
    std::vector<CacheEntry> top = {test::dirEntry("sub"), test::dirEntry("gone"),
            test::fileEntry("a.txt", 3000), test::fileEntry("1.abab", 1),
            test::fileEntry("3.abab", 1)};
    for (int i = 0; i < 40; ++i)
        top.push_back(test::fileEntry("w" + std::to_string(100 + i) + ".walk", 1));
    pc1.addDirectory("\\\\PC1\\", {test::dirEntry("share")});
    pc1.addDirectory("\\\\PC1\\share\\", top);
    pc1.addDirectory(
            "\\\\PC1\\share\\sub\\", {test::fileEntry("c.txt", 10), test::dirEntry("deeper")});
    pc1.addDirectory("\\\\PC1\\share\\sub\\deeper\\", {});
    pc1.write(root, "PC1", utf8);
    IndexPairWriter pc2;
    pc2.addDirectory(
            "\\\\PC2\\pub\\", {test::fileEntry("2.abab", 1), test::fileEntry("4.abab", 1)});
    pc2.write(root, "PC2", utf8);
    IndexPairWriter local;
    local.addDirectory("C:\\DATA\\", {test::fileEntry("l.txt", 1)});
    local.write(root, "LOCAL", utf8);
    IndexPairWriter pc3;
    pc3.addDirectory("\\\\PC3\\pub\\", {test::fileEntry("m.txt", 1)});
    pc3.write(root, "PC3", utf8);
    std::vector<TNodeData> nodes = {pingable("PC1", "10.1.1.1"),
            test::makeNode("LOCAL", "LOCAL", test::indexedKind()),
            test::makeNode("PC3", "PC3", test::indexedKind())};
    if (withPc2)
        nodes.push_back(pingable("PC2", "10.2.2.2"));
    writeNodeList(root, nodes);
}

// Under a real display, VELTRANO_SHOT_DIR asks for pictures of the screen at chosen moments.
void shoot(const char *name)
{
    const QString dir = qEnvironmentVariable("VELTRANO_SHOT_DIR");
    if (dir.isEmpty() || !QGuiApplication::primaryScreen())
        return;
    QTest::qWait(300);
    QGuiApplication::primaryScreen()->grabWindow(0).save(
            dir + QLatin1Char('/') + QLatin1String(name));
}

QPoint rowCenter(TEnhListView *list, int row)
{
    return list->reportView()->visualRect(list->model()->index(row, 0)).center();
}

} // namespace

class TestResultActions : public test::MainFormTest
{
    Q_OBJECT

    std::mutex m_mutex;
    std::vector<QUrl> m_opened;
    std::vector<std::string> m_echoes;
    std::map<std::string, int> m_answers;
    std::vector<QStringList> m_drags;

    std::vector<QUrl> opened()
    {
        std::lock_guard lock(m_mutex);
        return m_opened;
    }
    TEnhListView *list() const { return m_form->resultList(); }
    QWidget *viewport() const { return list()->reportView()->viewport(); }

    void search(const QString &key)
    {
        m_form->BitBtn3Click();
        QComboBox *box = m_form->searchPage()->textBox(0);
        box->setEditText(key);
        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QVERIFY(ended.wait(10000));
    }
    int stateOf(const char *name) const
    {
        const int row = rowOf(QString::fromUtf8(name));
        return row < 0 ? -9 : list()->model()->stateImage(row);
    }
    int rowOf(const QString &name) const
    {
        for (int row = 0; row < list()->model()->count(); ++row)
            if (list()->model()->cell(row, rcName) == name.toStdString())
                return row;
        return -1;
    }
    void doubleClick(int row)
    {
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, rowCenter(list(), row));
        QTest::mouseDClick(viewport(), Qt::LeftButton, {}, rowCenter(list(), row));
    }
    // Opens the pop-up menu over a row as a right click does and picks the entry `index`
    // (separators not counted) with the keyboard.
    // A negative index picks by the accelerator key `-index`.
    void chooseFromMenu(int row, int index)
    {
        test::onNextPopup([index](QWidget *menu) {
            if (index == 1)
                shoot("shot-popup.png");
            if (index < 0) {
                QTest::keyClick(menu, Qt::Key(-index));
                return;
            }
            for (int i = 0; i <= index; ++i)
                QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, rowCenter(list(), row));
        QContextMenuEvent event(QContextMenuEvent::Mouse, rowCenter(list(), row),
                viewport()->mapToGlobal(rowCenter(list(), row)));
        QApplication::sendEvent(viewport(), &event);
        QTRY_VERIFY(!QApplication::activePopupWidget());
    }

private slots:
    void initTestCase()
    {
        takeOverHome();
        writeCache(m_folder + "Cache/");
        std::filesystem::create_directories(m_home.path() / "mnt");
        test::writeFile(m_home.path() / "SHARES.MAP",
                "\\\\PC3\\pub=" + (m_home.path() / "mnt").string() + "\n");
        setShellOpen([this](const QUrl &url) {
            std::lock_guard lock(m_mutex);
            m_opened.push_back(url);
            return 0;
        });
        TDropFileSource::setExecutor([this](QDrag &drag, Qt::DropActions allowed) {
            if (allowed != Qt::CopyAction)
                return Qt::IgnoreAction;
            m_drags.push_back(drag.mimeData()->text().split(QLatin1Char('\n')));
            m_drags.back().append(QUrl::toStringList(drag.mimeData()->urls()));
            return Qt::CopyAction;
        });
    }

    void init()
    {
        m_boxes.clear();
        m_opened.clear();
        m_echoes.clear();
        m_drags.clear();
        m_answers = {{"10.1.1.1", 1}, {kPc1, 1}};
        defaultRecords();
        m_setup.ClearBeforeFind = 1;
        m_form = std::make_unique<TMainForm>(m_setup, m_common, m_folder);
        m_form->setScanThreads(1);
        m_form->FormCreate();
        m_form->setEcho([this](const std::string &address) {
            m_echoes.push_back(address);
            return m_answers.count(address) ? m_answers[address] : 0;
        });
        m_form->pingTimer()->stop();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    void cleanup() { m_form.reset(); }

    void doubleClickOpensWhatTheRowNames_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("box");
        const QString none;
        QTest::newRow("UNC") << QStringLiteral("a.txt") << true
                             << QStringLiteral("smb://pc1/share/a.txt") << none;
        QTest::newRow("silent computer") << QStringLiteral("a.txt") << false << none
                                         << QStringLiteral("\\\\PC1\\share\\ 沒反應");
        QTest::newRow("mapped share")
                << QStringLiteral("m.txt") << true
                << "file://" + QString::fromStdString(m_home.folder()) + "mnt/m.txt" << none;
        QTest::newRow("drive letter")
                << QStringLiteral("l.txt") << true << none
                << "C:\\DATA\\l.txt\r\n" + QString::fromStdString(ErrorText(ENOENT));
    }
    void doubleClickOpensWhatTheRowNames()
    {
        QFETCH(QString, key);
        QFETCH(bool, answers);
        QFETCH(QString, url);
        QFETCH(QString, box);
        if (!answers)
            m_answers.clear();
        search(key);
        QCOMPARE(list()->model()->count(), 1);
        doubleClick(0);
        if (url.isEmpty()) {
            QTest::qWait(100);
            QVERIFY(opened().empty());
        } else {
            QTRY_COMPARE(opened().size(), size_t(1));
            QCOMPARE(opened()[0].toString(), url);
        }
        QCOMPARE(m_boxes.size(), size_t(box.isEmpty() ? 0 : 1));
        if (!box.isEmpty()) {
            QCOMPARE(QString::fromStdString(m_boxes[0].text), box);
            QCOMPARE(m_boxes[0].kind, mkError);
        }
        // Only a pingable node is asked, with its address as stored.
        QCOMPARE(m_echoes.size(), size_t(key == "a.txt" ? 1 : 0));
        QTRY_VERIFY(!QApplication::overrideCursor()); // after its short pause
    }

    void popupMenuOffersTheActionsInOrder()
    {
        search(QStringLiteral("a.txt"));
        QStringList texts;
        for (QAction *action : m_form->resultMenu()->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(texts,
                QStringList({"開啟(&O)", "-", "開啟所在電腦", "開啟所在資料夾(&F)", "-", "內容提示",
                        "-", "儲存結果"}));

        chooseFromMenu(0, 1); // 開啟所在電腦
        QTRY_COMPARE(opened().size(), size_t(1));
        QCOMPARE(opened()[0].toString(), QStringLiteral("smb://pc1"));

        search(QStringLiteral("l.txt"));
        chooseFromMenu(0, 1);
        QTest::qWait(100);
        QCOMPARE(opened().size(), size_t(1)); // C:\DATA\ has no computer to open
        QVERIFY(m_boxes.empty());

        chooseFromMenu(0, -Qt::Key_O); // 開啟 by its accelerator
        QCOMPARE(m_boxes.size(), size_t(1));
    }

    void dragStartsAtTenPixels()
    {
        search(QStringLiteral("a.txt"));
        const QPoint from = rowCenter(list(), 0);
        QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
        QMouseEvent nine(QEvent::MouseMove, from + QPoint(9, -9),
                viewport()->mapToGlobal(from + QPoint(9, -9)), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(viewport(), &nine);
        QVERIFY(m_drags.empty());
        QMouseEvent ten(QEvent::MouseMove, from + QPoint(0, 10),
                viewport()->mapToGlobal(from + QPoint(0, 10)), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(viewport(), &ten);
        QCOMPARE(m_drags.size(), size_t(1));
        QCOMPARE(m_drags[0], QStringList({"\\\\PC1\\share\\a.txt", "smb://pc1/share/a.txt"}));
        QCOMPARE(m_echoes.size(), size_t(1));
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, from + QPoint(0, 10));

        // A silent computer abandons the drag with its message.
        m_answers.clear();
        QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
        QMouseEvent again(QEvent::MouseMove, from + QPoint(12, 0),
                viewport()->mapToGlobal(from + QPoint(12, 0)), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(viewport(), &again);
        QCOMPARE(m_drags.size(), size_t(1));
        QCOMPARE(m_boxes.size(), size_t(1));
    }

    void onlineWalkAsksVisibleRowsOncePerNode()
    {
        search(QStringLiteral("walk"));
        TEnhListModel *model = list()->model();
        QCOMPARE(model->count(), 40);
        m_form->pingTimer()->start();
        QTRY_VERIFY(model->stateImage(0) == 1);
        QCOMPARE(m_echoes, std::vector<std::string>({kPc1}));
        QCOMPARE(model->stateImage(39), -1); // below the view: not yet
        list()->reportView()->verticalScrollBar()->setValue(
                list()->reportView()->verticalScrollBar()->maximum());
        QTRY_COMPARE(model->stateImage(39), 1);
        QCOMPARE(m_echoes.size(), size_t(1)); // the same node: its last state, no echo

        // Alternating nodes need an echo per row; a node gone from the cache shows the question
        // mark.
        m_form->pingTimer()->stop();
        search(QStringLiteral("abab"));
        QTest::mouseClick(list()->header()->viewport(), Qt::LeftButton, {},
                QPoint(list()->header()->sectionViewportPosition(0) + 20, 5));
        std::vector<std::string> expected = {kPc1};
        for (int row = 0; row < 4; ++row)
            expected.push_back(model->cell(row, rcLocation) == "PC1" ? kPc1 : kPc2);
        QVERIFY(expected[1] != expected[2] && expected[2] != expected[3]); // the nodes alternate
        m_form->pingTimer()->start();
        QTRY_VERIFY_WITH_TIMEOUT(model->stateImage(3) >= 0, 5000);
        QCOMPARE(m_echoes, expected);
        QCOMPARE(stateOf("1.abab"), 1);
        QCOMPARE(stateOf("2.abab"), 0);
        QCOMPARE(m_form->LastPingName, std::string(model->cell(3, rcLocation)));

        m_form->pingTimer()->stop();
        search(QStringLiteral("abab"));
        writeCache(m_folder + "Cache/", false);
        m_form->LastPingName.clear();
        m_form->pingTimer()->start();
        QTRY_VERIFY_WITH_TIMEOUT(stateOf("2.abab") >= 0, 5000);
        writeCache(m_folder + "Cache/");
        QCOMPARE(stateOf("2.abab"), 2);
        QCOMPARE(stateOf("1.abab"), 1);
    }

    void hoverShowsTheHintAndItsFolder()
    {
        m_setup.OnlineShow = 1;
        search(QStringLiteral("c.txt"));
        THintForm *hint = m_form->hintForm();
        const QPoint at = rowCenter(list(), 0);
        QTest::mouseMove(viewport(), at);
        QTest::mouseMove(viewport(), at + QPoint(10, 0));
        QTest::qWait(400);
        QVERIFY(!hint->isVisible()); // moved 10 pixels while the timer ran
        QTest::mouseMove(viewport(), at);
        QTest::mouseMove(viewport(), at + QPoint(9, 0));
        QTRY_VERIFY(hint->isVisible());
        QCOMPARE(hint->windowTitle(), QStringLiteral("\\\\PC1\\share\\sub\\"));
        const TEnhListModel *rows = hint->listView()->model();
        QCOMPARE(rows->count(), 3);
        QCOMPARE(std::string(rows->cell(0, 0)), std::string(".."));
        QCOMPARE(std::string(rows->cell(1, 0)), std::string("deeper")); // folders first
        QCOMPARE(std::string(rows->cell(2, 0)), std::string("c.txt"));
        QCOMPARE(std::string(rows->cell(2, 2)), std::string("10"));

        shoot("shot-hint.png");

        // Up to the computer, and no further.
        QAbstractItemView *view = hint->listView()->activeView();
        // The keyboard's way to a double click: a row chosen, then Enter.
        const auto dblClick = [&](int row) {
            hint->listView()->selectRow(row);
            QTest::keyClick(view, Qt::Key_Return);
        };
        dblClick(0);
        QCOMPARE(hint->shownFolder(), QStringLiteral("\\\\PC1\\share\\"));
        dblClick(0);
        QCOMPARE(hint->shownFolder(), QStringLiteral("\\\\PC1\\"));
        QCOMPARE(std::string(rows->cell(1, 0)), std::string("share"));
        QVERIFY(m_boxes.empty());
        dblClick(0);
        QCOMPARE(hint->shownFolder(), QStringLiteral("\\\\PC1\\"));
        QCOMPARE(m_boxes.size(), size_t(1));
        QCOMPARE(m_boxes[0].text, std::string("不能在更上層"));

        // Back in the main window the countdown hides the hint within two seconds.
        m_form->activateWindow();
        QTRY_VERIFY_WITH_TIMEOUT(!hint->isVisible(), 3000);
    }

    void hintReportsAFolderMissingFromTheCache()
    {
        search(QStringLiteral("gone"));
        chooseFromMenu(0, 3); // 內容提示
        QCOMPARE(m_boxes.size(), size_t(1));
        QCOMPARE(m_boxes[0].text, FmtResStr(kStrNoCacheData, "\\\\PC1\\share\\gone\\"));
        QVERIFY(m_form->hintForm()->isVisible());
    }

    void savedFileEqualsTheCommandLines()
    {
        search(QStringLiteral("abab"));
        const std::string mine = (m_home.path() / "window.txt").string();
        test::onNextModal([&](QWidget *dialog) {
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(QString::fromStdString(mine));
            QTest::keyClick(name, Qt::Key_Return);
        });
        chooseFromMenu(0, 4); // 儲存結果
        const test::CliRun run = test::runCommand(std::string(VELTRANO_CLI)
                + " search --format tsv --threads 1 --cache '" + m_folder + "Cache/' --save '"
                + m_folder + "cli.txt' name contains abab");
        QCOMPARE(run.status, 0);
        const std::string saved = test::readFile(mine);
        QCOMPARE(saved, test::readFile(m_folder + "cli.txt"));
        QCOMPARE(int(std::count(saved.begin(), saved.end(), '\n')), 4);
    }

    void xdgOpenReceivesTheUrl()
    {
        // The real shell: a stand-in xdg-open first on PATH records what it was given.
        const std::filesystem::path bin = m_home.path() / "bin";
        std::filesystem::create_directories(bin);
        const std::string record = (m_home.path() / "xdg-open.log").string();
        test::writeFile(bin / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record + "'\n");
        std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QByteArray::fromStdString(bin.string()) + ":" + path);
        TShellOpen recorder = setShellOpen({});
        search(QStringLiteral("m.txt"));
        doubleClick(0);
        QTRY_VERIFY(std::filesystem::exists(record));
        QTRY_COMPARE(QString::fromStdString(test::readFile(record)),
                "file://" + QString::fromStdString(m_home.folder()) + "mnt/m.txt\n");
        setShellOpen(recorder);
        qputenv("PATH", path);
    }
};

QTEST_MAIN(TestResultActions)
#include "tst_resultactions.moc"
