// The window driven from the keyboard: its shortcuts, copying paths, the focus chain, and
// results that follow the key box as the user types.
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTableView>

#include "mainformtest.h"
#include "modaldriver.h"
#include "support/cachefixture.h"
#include "support/tempdir.h"
#include "widgets/enhlistview.h"
#include "widgets/msgbox.h"
#include "window/historypage.h"
#include "window/mainform.h"
#include "window/optionspage.h"
#include "window/resultlist.h"
#include "window/searchpage.h"
#include "window/typingsearch.h"
#include "window/wherecombobox.h"

using namespace veltrano;

namespace {

// PC1's share is mounted here (SHARES.MAP); PC2's is reached over SMB.
void writeFixture(const std::string &folder)
{
    const std::string cacheRoot = folder + "Cache/";
    std::filesystem::create_directories(cacheRoot);
    const CodePage utf8("UTF-8");
    writeCodePageMarker(cacheRoot, "UTF-8");
    IndexPairWriter pc1;
    pc1.addDirectory("\\\\PC1\\share\\",
            {test::dirEntry("albums"), test::fileEntry("alpha.txt", 5000),
                    test::fileEntry("alpine.doc", 9000), test::fileEntry("beta.txt", 100)});
    pc1.write(cacheRoot, "PC1", utf8);
    IndexPairWriter pc2;
    pc2.addDirectory("\\\\PC2\\pub\\", {test::fileEntry("alpha 2.txt", 1)});
    pc2.write(cacheRoot, "PC2", utf8);
    writeNodeList(cacheRoot,
            {test::makeNode("PC1", "PC1", test::indexedKind()),
                    test::makeNode("PC2", "PC2", test::indexedKind())});
    test::writeFile(folder + "SHARES.MAP", "\\\\PC1\\share=/mnt/pc1share\n");
}

QString accessibleName(QWidget *widget)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

} // namespace

class TestKeyboard : public test::MainFormTest
{
    Q_OBJECT


    TEnhListModel *results() const { return m_form->resultList()->model(); }
    QWidget *focused() const { return QApplication::focusWidget(); }
    // A key as the user presses it: to whatever holds the keyboard focus.
    void press(int key, Qt::KeyboardModifiers modifiers = {})
    {
        QVERIFY(focused());
        QTest::keyClick(focused(), Qt::Key(key), modifiers);
    }
    void typeInFirstKeyBox(const QString &text)
    {
        press(Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(focused(), m_form->searchPage()->textBox(0));
        QTest::keyClicks(focused(), text);
    }
    int rowNamed(const QString &name) const
    {
        for (int row = 0; row < results()->count(); ++row)
            if (QString::fromStdString(std::string(results()->cell(row, rcName))) == name)
                return row;
        return -1;
    }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = {})
    {
        QTableView *view = m_form->resultList()->reportView();
        const QRect rect = view->visualRect(results()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, rect.center());
    }

private slots:
    void initTestCase()
    {
        takeOverHome();
        writeFixture(m_folder);
    }

    void init()
    {
        m_boxes.clear();
        defaultRecords();
        m_form = std::make_unique<TMainForm>(m_setup, m_common, m_folder);
        m_form->setEcho([](const std::string &) {
            return 1;
        });
        m_form->FormCreate();
        m_form->show();
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }

    void cleanup()
    {
        if (m_form && m_form->searching()) {
            QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
            m_form->stopButton()->click();
            ended.wait(10000);
        }
        m_form.reset();
        for (const char *name : {"TEXT1.HIS", "TEXT2.HIS", "TEXT3.HIS", "SEARCH.HIS"})
            std::filesystem::remove_all(m_home.path() / name);
    }

    void shortcuts_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("effect");
        QTest::newRow("Ctrl+L") << int(Qt::Key_L) << int(Qt::ControlModifier) << "first key box";
        QTest::newRow("F5") << int(Qt::Key_F5) << 0 << "search";
        QTest::newRow("Esc") << int(Qt::Key_Escape) << 0 << "stop";
        QTest::newRow("Ctrl+S") << int(Qt::Key_S) << int(Qt::ControlModifier) << "save dialog";
    }

    // Each key from wherever the focus happens to be: the history list of another page.
    void shortcuts()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, effect);
        m_form->searchPage()->textBox(0)->setEditText(QStringLiteral("al"));
        m_form->pages()->setCurrentIndex(2);
        m_form->historyPage()->listView()->reportView()->setFocus();
        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);

        if (effect == "first key box") {
            press(key, Qt::KeyboardModifiers(modifiers));
            QCOMPARE(m_form->pages()->currentIndex(), 0);
            QCOMPARE(focused(), m_form->searchPage()->textBox(0));
            QCOMPARE(m_form->searchPage()->textBox(0)->lineEdit()->selectedText(), "al");
        } else if (effect == "search") {
            press(key, Qt::KeyboardModifiers(modifiers));
            QVERIFY(ended.wait(10000));
            QCOMPARE(results()->count(), 4);
            QCOMPARE(m_form->historyPage()->history().entries.size(), size_t(1));
        } else if (effect == "stop") {
            press(Qt::Key_F5);
            QVERIFY(m_form->searching());
            // The end is handed over only once the window's loop runs: the stop comes first.
            press(key, Qt::KeyboardModifiers(modifiers));
            QVERIFY(ended.wait(10000));
            QCOMPARE(results()->count(), 0);
            QVERIFY(m_boxes.empty());
            // Rows found after a stop keep their pictures.
            press(Qt::Key_F5);
            QVERIFY(ended.wait(10000));
            press(key, Qt::KeyboardModifiers(modifiers));
            QVERIFY(!results()->data(results()->index(0, 0), Qt::DecorationRole).isNull());
        } else {
            QString seen;
            test::onNextModal([&seen](QWidget *dialog) {
                seen = dialog->objectName();
                static_cast<QDialog *>(dialog)->reject();
            });
            press(key, Qt::KeyboardModifiers(modifiers));
            QCOMPARE(seen, QStringLiteral("SaveResultsDialog"));
        }
    }

    void copyPuts_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("inKeyBox");
        QTest::addColumn<QString>("clipboard");
        QTest::newRow("UNC") << int(Qt::ControlModifier) << "alpha"
                             << "\\\\PC1\\share\\alpha.txt\n\\\\PC2\\pub\\alpha 2.txt";
        QTest::newRow("reachable") << int(Qt::ControlModifier | Qt::ShiftModifier) << "before"
                                   << "/mnt/pc1share/alpha.txt\nsmb://pc2/pub/alpha 2.txt";
    }

    void copyPuts()
    {
        QFETCH(int, modifiers);
        QFETCH(QString, inKeyBox);
        QFETCH(QString, clipboard);
        QApplication::clipboard()->setText(QStringLiteral("before"));
        m_form->searchPage()->textBox(0)->setEditText(QStringLiteral("alpha"));
        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
        press(Qt::Key_F5);
        QVERIFY(ended.wait(10000));
        QCOMPARE(results()->count(), 2);
        // In the key box the keys are the text box's own.
        press(Qt::Key_L, Qt::ControlModifier);
        press(Qt::Key_C, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(QApplication::clipboard()->text(), inKeyBox);
        clickRow(rowNamed("alpha.txt"));
        clickRow(rowNamed("alpha 2.txt"), Qt::ControlModifier);
        QCOMPARE(focused(), m_form->resultList()->reportView());
        press(Qt::Key_C, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(QApplication::clipboard()->text(), clipboard);
    }

    // The on-line mark is a picture; assistive technology is told its state in words.
    void onlineMarksHaveWords()
    {
        m_form->searchPage()->textBox(0)->setEditText(QStringLiteral("beta"));
        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
        press(Qt::Key_F5);
        QVERIFY(ended.wait(10000));
        const QModelIndex first = results()->index(0, 0);
        QTRY_VERIFY(results()->stateImage(0) >= 0);
        // The fixture's computers have no address to ask: their state is unknown.
        QCOMPARE(results()->data(first, Qt::AccessibleDescriptionRole).toString(),
                QStringLiteral("狀態不明"));
    }

    // Tab reaches every control of each page, the buttons and the result list, in the order
    // they are laid out, and each says what it is.
    void tabWalksTheWindowInLayoutOrder_data()
    {
        QTest::addColumn<int>("page");
        QTest::newRow("名稱及位置") << 0;
        QTest::newRow("條件選項") << 1;
        QTest::newRow("歷史") << 2;
    }

    void tabWalksTheWindowInLayoutOrder()
    {
        QFETCH(int, page);
        press(Qt::Key_L, Qt::ControlModifier);
        for (int i = 0; i < page; ++i)
            press(Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(m_form->pages()->currentIndex(), page);
        std::vector<QWidget *> chain;
        for (int i = 0; i < 60 && (chain.empty() || focused() != chain.front()); ++i) {
            chain.push_back(focused());
            press(Qt::Key_Tab);
        }
        auto at = [&chain](QWidget *widget) {
            return int(std::find(chain.begin(), chain.end(), widget) - chain.begin());
        };
        const std::vector<QWidget *> pageFirst = {m_form->searchPage()->textBox(0),
                m_form->optionsPage()->checkBox(1),
                m_form->historyPage()->listView()->reportView()};
        const std::vector<QWidget *> order = {pageFirst[size_t(page)], m_form->searchButton(),
                m_form->stopButton(), m_form->clearButton(), m_form->resultList()->reportView()};
        for (size_t i = 0; i < order.size(); ++i) {
            QVERIFY2(at(order[i]) < int(chain.size()),
                    qPrintable(order[i]->metaObject()->className()));
            if (i > 0)
                QVERIFY(at(order[i - 1]) < at(order[i]));
        }
        QVERIFY(at(m_form->pages()->tabBar()) < int(chain.size()));
        if (page == 0)
            QVERIFY(at(m_form->searchPage()->whereBox()) < at(m_form->searchButton()));
        for (QWidget *widget : chain)
            QVERIFY2(!accessibleName(widget).isEmpty(), widget->metaObject()->className());
    }

    void typedKeysAreFollowedAfterAPauseAndOnlyEnterIsRecorded()
    {
        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
        // Off, as the window starts: typing is only typing.
        typeInFirstKeyBox(QStringLiteral("al"));
        QTest::qWait(TTypingSearch::kPauseMs * 3);
        QCOMPARE(ended.count(), 0);

        m_form->pages()->setCurrentIndex(1);
        QCheckBox *option = m_form->optionsPage()->typingBox();
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(8, option->height() / 2));
        QCOMPARE(m_setup.SearchAsYouType, uint8_t(1));

        // Keys in quick succession give one search, for the whole word, after the pause.
        press(Qt::Key_L, Qt::ControlModifier);
        QTest::keyClicks(focused(), QStringLiteral("alp"));
        QVERIFY(m_form->typingSearch()->pending());
        QVERIFY(!m_form->searching());
        QTRY_COMPARE(ended.count(), 1);
        QCOMPARE(results()->count(), 3); // alpha.txt, alpine.doc, alpha 2.txt
        QTest::keyClick(focused(), Qt::Key_H);
        QTRY_COMPARE(results()->count(), 2);
        QTest::keyClick(focused(), Qt::Key_Backspace);
        QTRY_COMPARE(results()->count(), 3); // the list follows; it does not add up
        QCOMPARE(m_form->historyPage()->history().entries.size(), size_t(0));
        QCOMPARE(m_form->searchPage()->textBox(0)->count(), 0);

        // A key that cannot be searched empties the list without a word.
        QTest::keyClick(focused(), Qt::Key_Semicolon);
        QTRY_COMPARE(results()->count(), 0);
        QTest::keyClick(focused(), Qt::Key_Backspace);
        QTRY_COMPARE(results()->count(), 3);

        // Enter before the pause is over: one confirmed search, recorded, the rows not doubled.
        const int before = ended.count();
        QTest::keyClick(focused(), Qt::Key_Backspace);
        QTest::keyClick(focused(), Qt::Key_Return);
        QTRY_COMPARE(ended.count(), before + 1);
        QTest::qWait(TTypingSearch::kPauseMs * 2);
        QCOMPARE(ended.count(), before + 1);
        QCOMPARE(results()->count(), 4); // albums too
        QCOMPARE(m_form->historyPage()->history().entries.size(), size_t(1));
        QVERIFY(m_boxes.empty());
    }
};

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
