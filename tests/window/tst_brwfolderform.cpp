#include <filesystem>

#include <QContextMenuEvent>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QWindow>

#include "modaldriver.h"
#include "support/tempdir.h"
#include "widgets/msgbox.h"
#include "widgets/panelstatusbar.h"
#include "widgets/systemtreeview.h"
#include "window/brwfolderform.h"

using namespace veltrano;
namespace fs = std::filesystem;

class TestBrwFolderForm : public QObject
{
    Q_OBJECT

    test::TempDir m_dir;
    QStringList m_boxes;
    int m_serial = 0;

    // A fresh folder of the temporary folder for one case.
    QString freshFolder()
    {
        const fs::path path = m_dir.path() / ("case" + std::to_string(++m_serial));
        fs::create_directories(path);
        return QString::fromStdString(path.string());
    }
    static QModelIndex indexOf(TBrwFolderForm &form, const QString &path)
    {
        return form.tree()->fileModel()->index(path);
    }
    static bool hasChild(TBrwFolderForm &form, const QString &folder, const QString &name)
    {
        QFileSystemModel *model = form.tree()->fileModel();
        const QModelIndex parent = model->index(folder);
        for (int row = 0; row < model->rowCount(parent); ++row)
            if (model->fileName(model->index(row, 0, parent)) == name)
                return true;
        return false;
    }
    // Clicks the folder's row once the tree shows it.
    static void clickFolder(
            TBrwFolderForm &form, const QString &path, Qt::MouseButton button = Qt::LeftButton)
    {
        TSystemTreeView *tree = form.tree();
        const QString parent = QFileInfo(path).absolutePath();
        for (QModelIndex at = indexOf(form, parent); at.isValid(); at = at.parent())
            tree->expand(at);
        QTRY_VERIFY(hasChild(form, parent, QFileInfo(path).fileName()));
        tree->scrollTo(indexOf(form, path));
        QTRY_VERIFY(tree->visualRect(indexOf(form, path)).isValid());
        QTest::mouseClick(
                tree->viewport(), button, {}, tree->visualRect(indexOf(form, path)).center());
    }
    // Answers the new-folder box with `name` (Esc when null).
    static void answerNameBox(const QString &name)
    {
        test::onNextModal([name](QWidget *box) {
            if (name.isNull()) {
                QTest::keyClick(box, Qt::Key_Escape);
                return;
            }
            auto *edit = box->findChild<QLineEdit *>();
            test::typeText(edit, name);
            QTest::keyClick(edit, Qt::Key_Return);
        });
    }

private slots:
    void initTestCase()
    {
        setMsgBoxPresenter([this](const MsgBoxRequest &request) {
            m_boxes << QString::fromStdString(request.text);
            return kIdOk;
        });
    }
    void init() { m_boxes.clear(); }

    void okNeedsAnExistingFolder()
    {
        const QString base = freshFolder();
        fs::create_directories(base.toStdString() + "/sub");
        TBrwFolderForm form;
        form.setPath(base + "/gone");
        form.show();
        QCOMPARE(form.tree()->GetSelection(), QString());
        QTest::mouseClick(form.okButton(), Qt::LeftButton);
        QCOMPARE(m_boxes, QStringList{"請選擇有效的磁碟目錄"});
        QVERIFY(form.isVisible());
        QVERIFY(!form.isAccepted());

        clickFolder(form, base + "/sub");
        QCOMPARE(form.tree()->GetSelection(), base + "/sub");
        QTest::keyClick(&form, Qt::Key_Return);
        QVERIFY(!form.isVisible());
        QVERIFY(form.isAccepted());
        QCOMPARE(form.path(), base + "/sub");
        QCOMPARE(m_boxes.size(), 1);
    }

    void leavingWithoutOkAcceptsNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("放棄") << "cancel";
        QTest::newRow("Esc") << "esc";
        QTest::newRow("close box") << "close";
    }
    void leavingWithoutOkAcceptsNothing()
    {
        QFETCH(QString, how);
        const QString base = freshFolder();
        fs::create_directories(base.toStdString() + "/other");
        TBrwFolderForm form;
        form.setPath(base);
        form.show();
        QCOMPARE(form.tree()->GetSelection(), base);
        clickFolder(form, base + "/other");
        if (how == "cancel")
            QTest::mouseClick(form.cancelButton(), Qt::LeftButton);
        else if (how == "esc")
            QTest::keyClick(&form, Qt::Key_Escape);
        else
            form.windowHandle()->close();
        QTRY_VERIFY(!form.isVisible());
        QVERIFY(!form.isAccepted());
        QCOMPARE(form.path(), base);
    }

    void newFolderCreatesEveryLevel_data()
    {
        QTest::addColumn<bool>("startMissing");
        QTest::addColumn<QString>("name"); // null: the box is left with Esc
        QTest::addColumn<QString>("created");
        QTest::addColumn<QString>("box");
        QTest::newRow("backslash levels") << false << "a\\b"
                                          << "a/b"
                                          << "";
        QTest::newRow("slash levels") << false << "c/d/e"
                                      << "c/d/e"
                                      << "";
        QTest::newRow("leading slash stays below") << false << "/abs"
                                                   << "abs"
                                                   << "";
        QTest::newRow("Chinese name") << false << "新資料夾"
                                      << "新資料夾"
                                      << "";
        QTest::newRow("a file in the way") << false << "blocker/x"
                                           << ""
                                           << "無法建立目錄";
        QTest::newRow("box left with Esc") << false << QString() << ""
                                           << "";
        QTest::newRow("nothing selected") << true << "x"
                                          << ""
                                          << "父目錄並不存在,請選擇有效的目錄";
    }
    void newFolderCreatesEveryLevel()
    {
        QFETCH(bool, startMissing);
        QFETCH(QString, name);
        QFETCH(QString, created);
        QFETCH(QString, box);
        const QString base = freshFolder();
        test::writeFile(base.toStdString() + "/blocker", "x");
        TBrwFolderForm form;
        form.setPath(startMissing ? base + "/gone" : base);
        form.show();
        answerNameBox(name);
        QTest::mouseClick(form.newFolderButton(), Qt::LeftButton);

        QCOMPARE(m_boxes.size(), box.isEmpty() ? 0 : 1);
        if (!box.isEmpty())
            QVERIFY2(m_boxes.front().startsWith(box), qPrintable(m_boxes.front()));
        if (created.isEmpty()) {
            // Nothing but the blocking file in the folder, and the selection kept.
            QCOMPARE(std::distance(
                             fs::directory_iterator(base.toStdString()), fs::directory_iterator()),
                    1);
            QCOMPARE(form.tree()->GetSelection(), startMissing ? QString() : base);
            return;
        }
        const QString target = base + "/" + created;
        QVERIFY(QFileInfo(target).isDir());
        QTRY_COMPARE(form.tree()->GetSelection(), target);
        QVERIFY(form.isVisible());
    }

    void treeFollowsTheFileSystem()
    {
        const QString base = freshFolder();
        fs::create_directories(base.toStdString() + "/keep");
        TBrwFolderForm form;
        form.setPath(base);
        form.show();
        const QRegularExpression drive(QStringLiteral("^磁碟/\\S*,容量\\d+MB,可用空間\\d+MB$"));
        QVERIFY2(drive.match(form.statusBar()->panel(0)->Text()).hasMatch(),
                qPrintable(form.statusBar()->panel(0)->Text()));

        // A folder made by someone else appears under the selected one, unasked.
        fs::create_directories(base.toStdString() + "/new");
        QTRY_VERIFY(hasChild(form, base, "new"));
        // Removing the selected folder selects its parent, not a neighbour.
        clickFolder(form, base + "/new");
        QCOMPARE(form.tree()->GetSelection(), base + "/new");
        fs::remove(base.toStdString() + "/new");
        QTRY_VERIFY(!hasChild(form, base, "new"));
        QTRY_COMPARE(form.tree()->GetSelection(), base);
    }

    void contextMenuActsOnTheFolderUnderTheMouse()
    {
        const QString base = freshFolder();
        fs::create_directories(base.toStdString() + "/m/deep");
        test::writeFile(base.toStdString() + "/m/one", std::string(1000, 'a'));
        test::writeFile(base.toStdString() + "/m/deep/two", std::string(24, 'b'));
        TBrwFolderForm form;
        form.setPath(base);
        form.show();
        TSystemTreeView *tree = form.tree();
        const auto rightClick = [&] {
            clickFolder(form, base + "/m", Qt::RightButton);
            const QPoint at = tree->visualRect(indexOf(form, base + "/m")).center();
            QContextMenuEvent event(
                    QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
            QApplication::sendEvent(tree->viewport(), &event);
        };

        test::onNextPopup([](QWidget *menu) {
            QTest::keyClick(menu, Qt::Key_N);
        });
        answerNameBox("made");
        rightClick();
        QVERIFY(QFileInfo(base + "/m/made").isDir());
        QTRY_COMPARE(tree->GetSelection(), base + "/m/made");

        QString shown;
        test::onNextPopup([](QWidget *menu) {
            QTest::keyClick(menu, Qt::Key_R);
        });
        test::onNextModal([&shown](QWidget *dialog) {
            for (QLabel *label : dialog->findChildren<QLabel *>())
                shown += label->text() + "\n";
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        rightClick();
        QVERIFY2(QRegularExpression("1,?024 位元組\\(2 個檔案,2 個資料夾\\)")
                         .match(shown)
                         .hasMatch(),
                qPrintable(shown));
        QVERIFY2(shown.contains(base + "/m\n"), qPrintable(shown));
        QVERIFY2(QRegularExpression("\n[r-][w-][x-]{1}[r-][w-][x-][r-][w-][x-] \\(\\d{3,4}\\)\n")
                         .match(shown)
                         .hasMatch(),
                qPrintable(shown));
    }
};

QTEST_MAIN(TestBrwFolderForm)
#include "tst_brwfolderform.moc"
