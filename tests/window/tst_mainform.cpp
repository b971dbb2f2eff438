#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTableView>

#include "res/strtable.h"
#include "search/objsearch.h"
#include "mainformtest.h"
#include "support/cachefixture.h"
#include "support/tempdir.h"
#include "util/codepage.h"
#include "util/datetime.h"
#include "widgets/enhlistview.h"
#include "widgets/fileicons.h"
#include "widgets/images.h"
#include "widgets/msgbox.h"
#include "widgets/userstore.h"
#include "window/findanimation.h"
#include "window/fontdialog.h"
#include "window/historypage.h"
#include "window/mainform.h"
#include "window/optionspage.h"
#include "window/resultlist.h"
#include "window/searchpage.h"
#include "window/wherecombobox.h"

using namespace veltrano;

namespace {

// A cache of two indexed nodes. PC1 holds 120 files and 8 folders: \\PC1\share\ with the
// folders d0 to d7 and 40 files, and 10 "doc" files in each folder. PC2 holds one empty folder.
void writeFixtureCache(const std::string &cacheRoot)
{
    std::filesystem::create_directories(cacheRoot);
    const CodePage utf8("UTF-8");
    writeCodePageMarker(cacheRoot, "UTF-8");
    IndexPairWriter pc1;
    std::vector<CacheEntry> top;
    for (int i = 0; i < 8; ++i)
        top.push_back(test::dirEntry("d" + std::to_string(i), 36526.25 + i));
    for (int i = 0; i < 40; ++i)
        top.push_back(
                test::fileEntry("file" + std::to_string(i) + ".txt", uint32_t(i) * 700, 36000 + i));
    pc1.addDirectory("\\\\PC1\\share\\", top);
    for (int d = 0; d < 8; ++d) {
        std::vector<CacheEntry> files;
        for (int i = 0; i < 10; ++i)
            files.push_back(
                    test::fileEntry("doc" + std::to_string(d) + "_" + std::to_string(i) + ".doc",
                            uint32_t(1023 + i * 4096), 37000.5 + i));
        pc1.addDirectory("\\\\PC1\\share\\d" + std::to_string(d) + "\\", files);
    }
    pc1.write(cacheRoot, "PC1", utf8);
    IndexPairWriter pc2;
    pc2.addDirectory("\\\\PC2\\pub\\", {});
    pc2.write(cacheRoot, "PC2", utf8);
    writeNodeList(cacheRoot,
            {test::makeNode("PC1", "PC1", test::indexedKind()),
                    test::makeNode("PC2", "PC2", test::indexedKind())});
}

struct EngineHit
{
    std::string name;
    uint32_t attr;
    uint32_t size;
    double time;
    std::string node;
};

// The hits the engine gives for one row-1 condition, as the command line lists them.
std::vector<EngineHit> engineHits(
        const std::string &cacheRoot, TCompField field, TCompOp op, const std::string &key)
{
    TCompInfos conds;
    conds[0].Logic = clAnd;
    conds[0].Field = field;
    conds[0].Op = op;
    conds[0].Text = key;
    CheckConditions(conds);
    std::vector<EngineHit> hits;
    TObjSearch search(cacheRoot, 0, 0, conds, CodePage::forCache(cacheRoot),
            [](const std::function<void()> &call) {
                call();
            });
    search.OnHit = [&](TObjSearch &sender) {
        const TItemData &item = sender.CurItem();
        hits.push_back(
                {std::string(item.name()), item.Attr, item.Size, item.Time, sender.CurNodeName()});
    };
    search.Start();
    search.WaitFor();
    return hits;
}

// A user's click in the middle of a header section.
void clickHeader(TEnhListView *list, int column)
{
    QHeaderView *header = list->header();
    const QPoint middle(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
            header->viewport()->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, middle);
}

// Picks an item of a closed drop-down list with the keyboard, as a user steps through it.
void choose(QComboBox *box, int index)
{
    QTest::keyClick(box, Qt::Key_Home);
    for (int i = 0; i < index; ++i)
        QTest::keyClick(box, Qt::Key_Down);
    QCOMPARE(box->currentIndex(), index);
}

} // namespace

class TestMainForm : public test::MainFormTest
{
    Q_OBJECT

    int m_answer = kIdYes;

    // Types the key and presses Enter in the key box, as a user starts a search.
    void search(const QString &key)
    {
        QComboBox *box = m_form->searchPage()->textBox(0);
        box->setEditText(key);
        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QVERIFY(ended.wait(10000));
    }
    void clickSearch() { QTest::mouseClick(m_form->searchButton(), Qt::LeftButton); }
    void makeForm()
    {
        m_form = std::make_unique<TMainForm>(m_setup, m_common, m_folder);
        m_form->FormCreate();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    std::vector<std::string> historyColumn(int column) const
    {
        const TEnhListModel *model = m_form->historyPage()->listView()->model();
        std::vector<std::string> texts;
        for (int row = 0; row < model->count(); ++row)
            texts.emplace_back(model->cell(row, column));
        return texts;
    }
    QString cell(int row, int column) const
    {
        return QString::fromStdString(
                std::string(m_form->resultList()->model()->cell(row, column)));
    }

private slots:
    void initTestCase()
    {
        takeOverHome([this](const MsgBoxRequest &request) {
            return request.kind == mkQuestion ? m_answer : kIdOk;
        });
        writeFixtureCache(m_folder + "Cache/");
    }

    void init()
    {
        m_boxes.clear();
        m_answer = kIdYes;
        defaultRecords();
        makeForm();
    }

    void cleanup()
    {
        if (m_form && m_form->searching()) {
            QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
            m_form->BitBtn2Click();
            ended.wait(10000);
        }
        m_form.reset();
        for (const char *name : {"TEXT1.HIS", "TEXT2.HIS", "TEXT3.HIS", "SEARCH.HIS"})
            std::filesystem::remove_all(m_home.path() / name);
    }

    void startsWithTheDesignValues()
    {
        TSearchPage *page = m_form->searchPage();
        QCOMPARE(page->fieldBox(0)->currentText(), QStringLiteral("檔名"));
        QCOMPARE(page->opBox(0)->currentText(), QStringLiteral("包含"));
        QCOMPARE(page->fieldBox(1)->currentText(), QStringLiteral("檔案大小"));
        QCOMPARE(page->opBox(2)->currentText(), QStringLiteral("大於"));
        QVERIFY(page->logicBox(1)->isHidden());
        QVERIFY(page->fieldBox(2)->isHidden());
        QCOMPARE(m_form->pages()->tabText(0), QStringLiteral("名稱及位置"));
        QCOMPARE(m_form->pages()->tabText(1), QStringLiteral("條件選項"));
        QCOMPARE(m_form->pages()->tabText(2), QStringLiteral("歷史"));
        QCOMPARE(m_form->optionsPage()->checkBox(2)->isChecked(), true);
        QCOMPARE(m_form->optionsPage()->checkBox(7)->isChecked(), true);
        QCOMPARE(m_form->optionsPage()->checkBox(1)->isChecked(), false);
        QCOMPARE(m_form->optionsPage()->hitNumBox()->value(), 100);
        QVERIFY(m_form->optionsPage()->detailsButton()->isChecked());
        QCOMPARE(m_form->resultList()->viewStyle(), 3);
        QCOMPARE(page->whereBox()->count(), 3); // no Net or Expanded node lists in the fixture
        QCOMPARE(page->whereBox()->itemText(0), QStringLiteral("所有快取資料"));
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Veltrano"));
        const std::vector<int> widths = {172, 64, 75, 100, 100, 100};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(m_form->resultList()->columnWidth(i), widths[size_t(i)]);
    }

    void searchListsTheEnginesHitsInOrder()
    {
        const std::string cacheRoot = m_folder + "Cache/";
        const std::vector<EngineHit> expected = engineHits(cacheRoot, cfName, coContains, "d");
        QCOMPARE(expected.size(), size_t(88));
        QVERIFY(m_form->animation()->frame() == 0);
        search(QStringLiteral("d"));
        TEnhListModel *model = m_form->resultList()->model();
        QCOMPARE(model->count(), int(expected.size()));
        for (int row = 0; row < model->count(); ++row) {
            const EngineHit &hit = expected[size_t(row)];
            const size_t slash = hit.name.rfind('\\');
            QCOMPARE(cell(row, rcName).toStdString(), hit.name.substr(slash + 1));
            QCOMPARE(cell(row, rcFolder).toStdString(), hit.name.substr(0, slash + 1));
            QCOMPARE(cell(row, rcLocation).toStdString(), hit.node);
            QCOMPARE(cell(row, rcDate).toStdString(), formatDateTime(hit.time));
            QCOMPARE(cell(row, rcResultKey).toStdString(), cacheRoot + hit.node);
            if (hit.attr & kAttrDirectory) {
                QCOMPARE(model->image(row), kFolderImage);
                QVERIFY(cell(row, rcExt).isEmpty());
                QVERIFY(cell(row, rcSize).isEmpty());
            } else {
                QVERIFY(model->image(row) != kFolderImage);
                QCOMPARE(cell(row, rcExt), QStringLiteral(".doc"));
                QCOMPARE(cell(row, rcSize), QString::number(hit.size >> 10));
            }
        }
        QCOMPARE(cell(8, rcSize), QStringLiteral("0")); // 1023 bytes
        QCOMPARE(m_form->statusText(1), QStringLiteral("120 檔案 8 資料夾 "));
        QCOMPARE(m_form->statusText(0), QStringLiteral("總共搜尋到 88 項目"));
        QVERIFY(!m_form->searching());
        QCOMPARE(m_form->animation()->active(), false);
    }

    void secondSearchAppendsWhenClearingIsOff()
    {
        search(QStringLiteral("doc0_"));
        QCOMPARE(m_form->resultList()->model()->count(), 10);
        m_form->optionsPage()->checkBox(2)->click();
        QCOMPARE(m_setup.ClearBeforeFind, uint8_t(0));
        search(QStringLiteral("doc1_"));
        QCOMPARE(m_form->resultList()->model()->count(), 20);
        QCOMPARE(m_form->statusText(0), QStringLiteral("總共搜尋到 20 項目"));
        m_form->clearButton()->click();
        QCOMPARE(m_form->resultList()->model()->count(), 0);
    }

    void secondSearchIsRefusedAndStopEndsTheFirst()
    {
        m_form->searchPage()->textBox(0)->setEditText(QStringLiteral("."));
        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
        clickSearch();
        QVERIFY(m_form->searching());
        QVERIFY(m_form->animation()->active());
        clickSearch();
        QCOMPARE(m_boxes.size(), size_t(1));
        QCOMPARE(m_boxes[0].text, std::string("請先停止搜尋"));
        QCOMPARE(m_boxes[0].title, std::string("資訊"));
        QVERIFY(!m_form->close()); // closing is refused too
        QCOMPARE(m_boxes.size(), size_t(2));
        m_form->stopButton()->click();
        QVERIFY(ended.wait(10000));
        QCOMPARE(ended.count(), 1);
        const int rows = m_form->resultList()->model()->count();
        QVERIFY(rows < 120); // stopped before the worker's first hand-off reached the window
        QCOMPARE(m_form->statusText(0), QString("總共搜尋到 %1 項目").arg(rows));
        QVERIFY(!m_form->searching());
    }

    void conditionFaultsAreShownAsErrorBoxes_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("op");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("message");
        QTest::newRow("blank") << 0 << 0 << "   "
                               << "至少輸入一個關鍵值(非空白)";
        QTest::newRow("separator") << 0 << 0 << "a;b"
                                   << "字元 ';' 或 ',' 是不允許的";
        QTest::newRow("size not a number") << 2 << 2 << "1.5"
                                           << "關鑑值必須為數值(KB)";
        QTest::newRow("size contains") << 2 << 0 << "10"
                                       << "檔案大小不支援\"包含\"方法";
        QTest::newRow("bad date") << 3 << 2 << "31/31/1999"
                                  << "日期格式不合法\r\n正確格式 1/1/1999 10:00 AM 或 1/1/1999";
        QTest::newRow("date contains") << 3 << 0 << "1/1/1999"
                                       << "修改日期不支援\"包含\"方法";
    }

    void conditionFaultsAreShownAsErrorBoxes()
    {
        QFETCH(int, field);
        QFETCH(int, op);
        QFETCH(QString, key);
        QFETCH(QString, message);
        m_form->searchPage()->fieldBox(0)->setCurrentIndex(field);
        m_form->searchPage()->opBox(0)->setCurrentIndex(op);
        m_form->searchPage()->textBox(0)->setEditText(key);
        clickSearch();
        QCOMPARE(m_boxes.size(), size_t(1));
        QCOMPARE(QString::fromStdString(m_boxes[0].text), message);
        QCOMPARE(m_boxes[0].title, std::string("錯誤"));
        QVERIFY(!m_form->searching());
        QCOMPARE(m_form->historyPage()->history().entries.size(), size_t(0));
    }

    void moreAndLogicBoxesShowAndHideRows()
    {
        TSearchPage *page = m_form->searchPage();
        page->moreButton()->click();
        QVERIFY(!page->logicBox(1)->isHidden());
        QVERIFY(page->fieldBox(1)->isHidden());
        choose(page->logicBox(1), clOr);
        for (QWidget *box :
                {page->fieldBox(1), page->opBox(1), page->textBox(1), page->logicBox(2)})
            QVERIFY(!box->isHidden());
        QVERIFY(page->fieldBox(2)->isHidden());
        choose(page->logicBox(2), clAndNot);
        QVERIFY(!page->textBox(2)->isHidden());
        choose(page->logicBox(1), clNone);
        for (QWidget *box :
                {page->logicBox(1), page->fieldBox(1), page->logicBox(2), page->textBox(2)})
            QVERIFY(box->isHidden());
        QCOMPARE(page->logicBox(2)->currentIndex(), int(clNone));
        page->moreButton()->click();
        QVERIFY(!page->logicBox(1)->isHidden());
        QVERIFY(page->fieldBox(1)->isHidden());
        page->moreButton()->click(); // hides the logic box again
        QVERIFY(page->logicBox(1)->isHidden());
    }

    void historyIsRecordedAndRecalled()
    {
        TSearchPage *page = m_form->searchPage();
        page->textBox(1)->setEditText(QStringLiteral("ignored"));
        search(QStringLiteral("doc3"));
        search(QStringLiteral("DOC3"));
        search(QStringLiteral("d2_"));
        const SearchHistory &history = m_form->historyPage()->history();
        QCOMPARE(history.entries.size(), size_t(3)); // COMMAND compares with letter case
        QCOMPARE(page->recentTexts(0), (std::vector<std::string>{"d2_", "DOC3"}));
        QCOMPARE(page->recentTexts(1), (std::vector<std::string>{"ignored"}));
        TEnhListView *list = m_form->historyPage()->listView();
        QCOMPARE(list->model()->count(), 3);
        QCOMPARE(list->model()->image(0), 2);
        QCOMPARE(QString::fromStdString(std::string(list->model()->cell(0, 1))),
                QStringLiteral("檔名包含d2_"));
        QCOMPARE(std::string(list->model()->cell(0, 4)),
                std::string("檔名,包含,d2_;無,檔案大小,大於,ignored;無,修改日期,大於,"));

        m_form->pages()->setCurrentIndex(2);
        QTest::mouseClick(m_form->historyPage()->selectButton(), Qt::LeftButton); // no selection
        QCOMPARE(page->textBox(0)->currentText(), QStringLiteral("d2_"));
        QCOMPARE(m_form->pages()->currentIndex(), 2);
        page->fieldBox(0)->setCurrentIndex(cfExt);
        page->textBox(1)->setEditText(QString());
        QTableView *view = list->reportView();
        const QPoint third = view->visualRect(list->model()->index(2, 1)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, third);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, third);
        QCOMPARE(page->textBox(0)->currentText(), QStringLiteral("doc3"));
        QCOMPARE(page->fieldBox(0)->currentIndex(), int(cfName));
        QCOMPARE(page->textBox(1)->currentText(), QStringLiteral("ignored"));
        QVERIFY(page->fieldBox(1)->isHidden());
        QCOMPARE(m_form->pages()->currentIndex(), 0);

        // Header clicks sort the history, and the store (saved at close) follows the shown order.
        m_form->pages()->setCurrentIndex(2);
        clickHeader(list, 1);
        const std::vector<std::string> once = historyColumn(1);
        clickHeader(list, 1);
        std::vector<std::string> twice = historyColumn(1);
        std::reverse(twice.begin(), twice.end());
        QCOMPARE(twice, once);
        QVERIFY(once != historyColumn(1));
        QCOMPARE(history.entries.front().Cond1, historyColumn(1).front());

        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                view->visualRect(list->model()->index(0, 1)).center());
        const std::string deleted = historyColumn(1).front();
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(list->model()->count(), 2);
        QCOMPARE(history.entries.size(), size_t(2));
        QVERIFY(std::none_of(
                history.entries.begin(), history.entries.end(), [&](const HistoryEntry &entry) {
                    return entry.Cond1 == deleted;
                }));
    }

    void keyListsKeepWhatWasTypedAndFilesLeaveOutWhatTheCodePageCannotHold()
    {
        search(QStringLiteral("doc1"));
        search(QStringLiteral("们")); // no CP950 code
        search(QStringLiteral("doc2"));
        QCOMPARE(m_form->searchPage()->recentTexts(0),
                (std::vector<std::string>{"doc2", "们", "doc1"}));
        QCOMPARE(m_form->historyPage()->history().entries[1].Cond1, std::string("檔名包含们"));
        QVERIFY(m_form->close());
        QCOMPARE(test::readFile(m_home.path() / "TEXT1.HIS"), std::string("doc2\r\ndoc1\r\n"));
        QCOMPARE(test::readFile(m_home.path() / "TEXT2.HIS"), std::string());
        const std::string searches = test::readFile(m_home.path() / "SEARCH.HIS");
        QVERIFY(searches.find("COMMAND=") != std::string::npos);
        QVERIFY(searches.find('?') == std::string::npos);

        makeForm();
        // Two searches within one second share their section: the row written last (the older)
        // wins.
        const auto &entries = m_form->historyPage()->history().entries;
        QVERIFY(entries.size() == 2 || (entries.size() == 1 && entries[0].Cond1.ends_with("doc1")));
        QCOMPARE(m_form->historyPage()->listView()->model()->count(), int(entries.size()));
        QCOMPARE(m_form->searchPage()->recentTexts(0), (std::vector<std::string>{"doc2", "doc1"}));
    }

    void unwritableKeyListAtCloseAsksWhetherToQuit_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("yes") << kIdYes << true;
        QTest::newRow("no") << kIdNo << false;
    }

    void unwritableKeyListAtCloseAsksWhetherToQuit()
    {
        QFETCH(int, answer);
        QFETCH(bool, closes);
        std::filesystem::create_directory(m_home.path() / "TEXT1.HIS"); // cannot be replaced
        m_answer = answer;
        QCOMPARE(m_form->close(), closes);
        QCOMPARE(m_boxes.size(), size_t(2));
        QCOMPARE(m_boxes[0].kind, mkError);
        QVERIFY(!m_boxes[0].text.empty());
        QCOMPARE(m_boxes[1].kind, mkQuestion);
        QCOMPARE(m_boxes[1].text, std::string(LoadResStr(kStrQuitAnyway)));
    }

    void unreadableHistoryShowsTheReadError()
    {
        m_form.reset();
        std::filesystem::create_directory(m_home.path() / "SEARCH.HIS"); // a folder cannot be read
        makeForm();
        std::filesystem::remove(m_home.path() / "SEARCH.HIS");
        QCOMPARE(m_boxes.size(), size_t(1));
        QVERIFY(m_boxes[0].text.starts_with("讀取紀錄時發生錯誤"));
        QCOMPARE(m_form->historyPage()->listView()->model()->count(), 0);
    }

    void enterAnywhereOnTheSearchPageSearches()
    {
        TSearchPage *page = m_form->searchPage();
        page->textBox(0)->setEditText(QStringLiteral("doc0_"));
        for (QWidget *box : std::initializer_list<QWidget *>{
                     page->fieldBox(0), page->opBox(0), page->whereBox(), page->moreButton()}) {
            QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
            QTest::keyClick(box, Qt::Key_Enter, Qt::KeypadModifier);
            QVERIFY2(ended.wait(10000), qPrintable(box->metaObject()->className()));
            QCOMPARE(m_form->resultList()->model()->count(), 10);
        }
    }

    void headerClicksSortTheResultsAndTheSortIsKept()
    {
        search(QStringLiteral("file"));
        TEnhListView *list = m_form->resultList();
        clickHeader(list, rcSize);
        if (!list->sortAscending())
            clickHeader(list, rcSize);
        for (int row = 1; row < list->model()->count(); ++row)
            QVERIFY(cell(row - 1, rcSize).toInt() <= cell(row, rcSize).toInt());
        clickHeader(list, rcDate);
        for (int row = 1; row < list->model()->count(); ++row)
            QVERIFY(cell(row - 1, rcDate) <= cell(row, rcDate));
        clickHeader(list, rcName); // text: file10.txt before file9.txt
        QVERIFY(cell(0, rcName) == QStringLiteral("file0.txt")
                && cell(2, rcName) == QStringLiteral("file10.txt"));
        clickHeader(list, rcName);
        QCOMPARE(cell(0, rcName), QStringLiteral("file9.txt"));
        m_form.reset();
        const auto store = openUserStore(kResultListKey);
        QCOMPARE(store->value("Sort/SortCol").toInt(), int(rcName));
        QCOMPARE(store->value("Sort/Ascending").toBool(), false);
    }

    void fontDialogStartsFromTheWindowsFontAndAnUnchangedApplyChangesNothing()
    {
        copyText(m_setup.FontName, "No Such Face", CodePage("CP950"));
        m_setup.FontSize = 13;
        makeForm();
        const QFont before = m_form->font();
        int shownSize = 0;
        QTimer::singleShot(0, m_form.get(), [&] {
            TFontDialog *dialog = m_form->fontDialog();
            shownSize = dialog->sizeBox()->currentText().toInt();
            auto *buttons = dialog->findChild<QDialogButtonBox *>();
            QTest::mouseClick(buttons->button(QDialogButtonBox::Apply), Qt::LeftButton);
            QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        QTest::mouseClick(m_form->optionsPage()->fontButton(), Qt::LeftButton);
        QCOMPARE(shownSize, 13);
        QCOMPARE(m_setup.FontName, std::string("No Such Face"));
        QCOMPARE(m_setup.FontSize, 13);
        QCOMPARE(m_form->font(), before);

        QTimer::singleShot(0, m_form.get(), [&] {
            TFontDialog *dialog = m_form->fontDialog();
            dialog->sizeBox()->setCurrentText(QStringLiteral("9"));
            QTest::mouseClick(dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok),
                    Qt::LeftButton);
        });
        QTest::mouseClick(m_form->optionsPage()->fontButton(), Qt::LeftButton);
        QCOMPARE(m_setup.FontName, std::string("No Such Face"));
        QCOMPARE(m_setup.FontSize, 9);
        QCOMPARE(m_form->font().pointSize(), 9);
    }

    void storedHitNumberOutOfRangeIsTheOneShownSearchedAndSaved_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("used");
        QTest::newRow("zero") << 0 << 1;
        QTest::newRow("negative") << -7 << 1;
        QTest::newRow("too large") << 20000 << 10000;
    }

    void storedHitNumberOutOfRangeIsTheOneShownSearchedAndSaved()
    {
        QFETCH(int, stored);
        QFETCH(int, used);
        m_setup.HitNumValue = stored;
        makeForm();
        QCOMPARE(m_form->optionsPage()->hitNumBox()->value(), used);
        QCOMPARE(m_setup.HitNumValue, used);
    }

    void rowsOfABatchShowWithoutWaitingForTheNext()
    {
        TEnhListView list;
        TImageList images;
        TExtList extensions;
        ResultIntake intake(&list, images, extensions);
        setupResultList(&list, &images);
        const CodePage utf8("UTF-8");
        TItemData item;
        item.setName("\\\\PC1\\share\\a.txt");
        intake.addHit(item, "PC1", "key", utf8);
        intake.flushIfDue(); // the first batch shows at once
        QCOMPARE(list.model()->count(), 1);
        intake.addHit(item, "PC1", "key", utf8);
        intake.flushIfDue(); // too soon after the first: waits, but not for another batch
        QCOMPARE(list.model()->count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(list.model()->count(), 2, 2000);
    }

    void theSmallestWindowKeepsEveryControlUsable()
    {
        m_form->resize(320, 260);
        QTRY_VERIFY(m_form->width() > 320 && m_form->height() > 260);
        TSearchPage *page = m_form->searchPage();
        for (QWidget *box : std::initializer_list<QWidget *> {page->fieldBox(0), page->opBox(0), page->textBox(0),
                                                              page->whereBox(), page->moreButton()})
            QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(box->metaObject()->className()));
        const int pagesRight = m_form->pages()->mapTo(m_form.get(), QPoint(m_form->pages()->width(), 0)).x();
        QVERIFY(m_form->searchButton()->mapTo(m_form.get(), QPoint(0, 0)).x() >= pagesRight + 8);
        QVERIFY(m_form->resultList()->height() >= 4 * m_form->resultList()->fontMetrics().height());
    }

    void optionBoxesWriteTheirSettings()
    {
        TOptionsPage *options = m_form->optionsPage();
        options->checkBox(1)->click();
        options->checkBox(5)->click();
        options->hitNumBox()->setValue(7);
        options->listButton()->click();
        QCOMPARE(m_setup.OnlyShowFolder, uint8_t(1));
        QCOMPARE(m_setup.OnlyFolderName, uint8_t(1));
        QCOMPARE(m_setup.HitNumValue, 7);
        QCOMPARE(m_setup.ViewStyle, uint8_t(2));
        QCOMPARE(m_form->resultList()->viewStyle(), 2);
        // Only folder entries are tested (d0 to d7), and their folder is the hit, once.
        search(QStringLiteral("d"));
        QCOMPARE(m_form->resultList()->model()->count(), 1);
        QCOMPARE(cell(0, rcName), QStringLiteral("share"));
        QCOMPARE(cell(0, rcFolder), QStringLiteral("\\\\PC1\\"));
        QCOMPARE(m_form->resultList()->model()->image(0), kFolderImage);
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
