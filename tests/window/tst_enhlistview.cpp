#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QListView>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>

#include "support/tempdir.h"
#include "widgets/enhlistview.h"
#include "widgets/userstore.h"

using namespace veltrano;

namespace {

constexpr const char *kKey = "\\Software\\Calderwick\\Drellmoor\\Veltrano\\ListView";

void fill(TEnhListView &list, const std::vector<std::vector<std::string>> &rows)
{
    for (const auto &row : rows) {
        std::vector<std::string_view> cells(row.begin(), row.end());
        list.model()->stage(0, cells);
    }
    list.model()->flush();
}

std::vector<std::string> column(const TEnhListView &list, int cell)
{
    std::vector<std::string> texts;
    for (int row = 0; row < list.model()->count(); ++row)
        texts.emplace_back(list.model()->cell(row, cell));
    return texts;
}

void threeColumns(TEnhListView &list)
{
    list.setColumns(
            {{QStringLiteral("a"), 50}, {QStringLiteral("b"), 60}, {QStringLiteral("c"), 70}}, 1);
}

// A user's click in the middle of a header section.
void clickHeader(TEnhListView &list, int column)
{
    QHeaderView *header = list.header();
    const QPoint middle(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
            header->viewport()->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, middle);
}

void showList(TEnhListView &list)
{
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
}

} // namespace

class TestEnhListView : public QObject
{
    Q_OBJECT

    test::TempDir m_config;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_config.path().string()));
        QLocale::setDefault(QLocale::c());
    }

    void cleanup() { openUserStore(kKey)->clear(); }

    void modelKeepsItsContractWhileRowsComeAndGo()
    {
        TEnhListView list;
        QAbstractItemModelTester tester(
                list.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        threeColumns(list);
        fill(list, {{"x", "2", "", "hidden"}, {"y", "1"}});
        list.model()->insertRowAt(0, 1, std::vector<std::string_view>{"top"});
        QCOMPARE(list.model()->rowCount(), 3);
        QCOMPARE(list.model()->cell(0, 0), "top");
        QCOMPARE(list.model()->cell(1, 3), "hidden"); // hidden cells are kept, not shown
        QCOMPARE(list.model()->columnCount(), 3);
        list.model()->removeRowAt(1);
        QCOMPARE(list.model()->cell(1, 0), "y");
        list.model()->clear();
        QCOMPARE(list.model()->rowCount(), 0);
    }

    void stagedRowsAppearInOneInsertionAtFlush()
    {
        TEnhListView list;
        threeColumns(list);
        QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < 500; ++i) {
            const std::string text = std::to_string(i);
            list.model()->stage(0, std::vector<std::string_view>{text});
        }
        QCOMPARE(list.model()->rowCount(), 0);
        list.model()->flush();
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(list.model()->rowCount(), 500);
        QCOMPARE(list.model()->cell(499, 0), "499");
    }

    void pooledCellsKeepTheirOwnTexts()
    {
        TEnhListView list;
        list.setColumns({{QStringLiteral("a"), 50, Qt::AlignLeft, true}});
        std::vector<std::string> values;
        for (int i = 0; i < 3000; ++i)
            values.push_back("folder" + std::to_string(i % 7) + std::string(i % 50, 'x'));
        for (const std::string &value : values)
            list.model()->stage(0, std::vector<std::string_view>{value});
        list.model()->flush();
        for (int i = 0; i < 3000; ++i)
            QCOMPARE(list.model()->cell(i, 0), values[size_t(i)]);
    }

    // Texts of every length fill several blocks of the row storage, so some land right at a
    // block's end and the next one starts a new block; clearing starts over cleanly.
    void textsAcrossStorageBlocksReadBackWhole()
    {
        TEnhListView list;
        threeColumns(list);
        auto textOf = [](int row, int cell) {
            return std::to_string(row) + std::string(size_t((row * 7 + cell * 131) % 300), 'a' + cell);
        };
        for (int round = 0; round < 2; ++round) {
            list.model()->clear();
            for (int row = 0; row < 20000; ++row) {
                const std::string a = textOf(row, 0), b = textOf(row, 1), c = textOf(row, 2);
                list.model()->stage(row % 3, std::vector<std::string_view> {a, b, row % 5 ? c : ""});
            }
            list.model()->flush();
            QVERIFY(list.model()->memoryBytes() > 4u << 20);
            for (int row = 0; row < 20000; ++row) {
                QCOMPARE(list.model()->cell(row, 0), textOf(row, 0));
                QCOMPARE(list.model()->cell(row, 1), textOf(row, 1));
                QCOMPARE(list.model()->cell(row, 2), row % 5 ? textOf(row, 2) : "");
                QCOMPARE(list.model()->image(row), row % 3);
            }
        }
    }

    void headerClicksSortAndToggle()
    {
        TEnhListView list;
        threeColumns(list);
        list.AutoColumnSort = acsSortToggle;
        fill(list, {{"b", "10"}, {"a", "9"}, {"c", "100"}});
        showList(list);
        QSignalSpy clicked(&list, &TEnhListView::columnClicked);
        clickHeader(list, 1);
        QCOMPARE(column(list, 1), (std::vector<std::string>{"9", "10", "100"}));
        clickHeader(list, 1);
        QCOMPARE(column(list, 1), (std::vector<std::string>{"100", "10", "9"}));
        QVERIFY(!list.sortAscending());
        clickHeader(list, 0);
        QCOMPARE(clicked.count(), 3);
        QVERIFY(list.sortAscending());
        QCOMPARE(column(list, 0), (std::vector<std::string>{"a", "b", "c"}));
    }

    void smartComparisonReadsNumbersDatesAndText_data()
    {
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("numbers") << QStringList{"10", "9", "1,234", "999"}
                                 << QStringList{"9", "10", "999", "1,234"};
        QTest::newRow("number and unit")
                << QStringList{"20 KB", "3 KB"} << QStringList{"3 KB", "20 KB"};
        QTest::newRow("dates") << QStringList{"2001/02/03 10:00:00", "1999/12/31 23:59:59",
                "2001/02/03"}
                               << QStringList{"1999/12/31 23:59:59", "2001/02/03",
                                          "2001/02/03 10:00:00"};
        QTest::newRow("dates and words")
                << QStringList{"zz", "2001/02/03", "aa"} << QStringList{"2001/02/03", "aa", "zz"};
    }

    void smartComparisonReadsNumbersDatesAndText()
    {
        QFETCH(QStringList, cells);
        QFETCH(QStringList, sorted);
        TEnhListView list;
        threeColumns(list);
        list.AutoColumnSort = acsSort;
        for (const QString &cell : cells)
            fill(list, {{cell.toStdString()}});
        showList(list);
        clickHeader(list, 0);
        QStringList shown;
        for (const std::string &text : column(list, 0))
            shown << QString::fromStdString(text);
        QCOMPARE(shown, sorted);
    }

    void sortHandlerChoosesTheComparisonPerColumn()
    {
        TEnhListView list;
        threeColumns(list);
        list.AutoColumnSort = acsSortToggle;
        int calls = 0;
        list.OnSortItems = [&](const TEnhListModel &, RowId, RowId, int sortColumn, TSortAs &as,
                                   int &result) {
            ++calls;
            if (sortColumn == 0)
                as = saNumeric;
            else if (sortColumn == 1)
                as = saDateTime;
            else
                result = 0; // caption: keep the order
        };
        fill(list,
                {{"x", "10", "2000/01/02"}, {"y", "9", "1999/05/06"}, {"z", "abc", "2000/01/01"}});
        showList(list);
        clickHeader(list, 1);
        QCOMPARE(column(list, 1), (std::vector<std::string>{"abc", "9", "10"})); // text counts as 0
        clickHeader(list, 2);
        QCOMPARE(column(list, 2),
                (std::vector<std::string>{"1999/05/06", "2000/01/01", "2000/01/02"}));
        clickHeader(list, 0);
        QCOMPARE(column(list, 0), (std::vector<std::string>{"y", "z", "x"}));
        QVERIFY(calls > 0);
    }

    void resortWaitsForTheLastEndUpdate()
    {
        TEnhListView list;
        threeColumns(list);
        list.AutoColumnSort = acsSort;
        list.Loaded(); // no saved settings: column 0 ascending
        QCOMPARE(list.sortColumn(), 0);
        fill(list, {{"b"}, {"a"}});
        QCOMPARE(column(list, 0), (std::vector<std::string>{"b", "a"})); // no automatic resort
        list.BeginUpdate();
        list.BeginUpdate();
        list.Resort();
        list.EndUpdate();
        QCOMPARE(column(list, 0), (std::vector<std::string>{"b", "a"}));
        list.EndUpdate();
        QCOMPARE(column(list, 0), (std::vector<std::string>{"a", "b"}));
        list.EndUpdate(); // never below zero
    }

    void selectionFollowsTheRowsWhenSorting()
    {
        TEnhListView list;
        threeColumns(list);
        list.AutoColumnSort = acsSort;
        fill(list, {{"c"}, {"a"}, {"b"}});
        showList(list);
        list.selectRow(0); // "c"
        clickHeader(list, 0);
        QCOMPARE(list.selectedRows(), std::vector<int>{2});
    }

    // The report moves as a list: rows of one height, Home and End to the first and last
    // rows, sideways only when asked, and Tab out of it.
    void keysMoveThroughRowsAndNeverSideways()
    {
        QWidget window;
        auto *list = new TEnhListView(&window);
        auto *after = new QLineEdit(&window);
        list->setColumns({{QStringLiteral("a"), 200}, {QStringLiteral("b"), 200}, {QStringLiteral("c"), 200}});
        std::vector<std::vector<std::string>> rows;
        for (int i = 0; i < 40; ++i)
            rows.push_back({"row" + std::to_string(i), "b", "c"});
        fill(*list, rows);
        list->setGeometry(0, 0, 300, 200);
        after->setGeometry(0, 210, 100, 20);
        window.resize(320, 240);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTableView *view = list->reportView();
        const QRect first = view->visualRect(list->model()->index(0, 0));
        QCOMPARE(view->visualRect(list->model()->index(1, 0)).top(), first.bottom() + 1);
        QVERIFY(first.height() >= view->fontMetrics().height());

        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, first.center());
        const QScrollBar *across = view->horizontalScrollBar();
        QVERIFY(across->maximum() > 0);
        const struct
        {
            Qt::Key key;
            int row;
            bool scrolledAcross;
        } steps[] = {{Qt::Key_End, 39, false}, {Qt::Key_Up, 38, false}, {Qt::Key_Home, 0, false},
                     {Qt::Key_Right, 0, true}, {Qt::Key_Down, 1, true}, {Qt::Key_Left, 1, false}};
        for (const auto &step : steps) {
            QTest::keyClick(view, step.key);
            QCOMPARE(list->currentRow(), step.row);
            QCOMPARE(list->selectedRows(), std::vector<int>{step.row});
            QCOMPARE(across->value() > 0, step.scrolledAcross);
        }
        QTest::keyClick(view, Qt::Key_Tab);
        QVERIFY(after->hasFocus());
    }

    void settingsAreStoredAndRestored()
    {
        {
            TEnhListView list;
            threeColumns(list);
            list.AutoColumnSort = acsSortToggle;
            list.SaveSettings.AutoSave = true;
            list.SaveSettings.RegistryKey = kKey;
            list.Loaded();
            list.setColumnWidth(1, 33);
            showList(list);
            clickHeader(list, 2);
            clickHeader(list, 2);
            list.setViewStyle(2);
        }
        const auto store = openUserStore(kKey);
        QCOMPARE(store->value("Columns/Sizes").toString(), QStringLiteral("50,33,70"));
        QCOMPARE(store->value("Sort/SortCol").toInt(), 2);
        QCOMPARE(store->value("Sort/Ascending").toBool(), false);
        QCOMPARE(store->value("ViewStyle/ViewStyle").toInt(), 2);

        TEnhListView again;
        threeColumns(again);
        again.AutoColumnSort = acsSortToggle;
        again.SaveSettings.AutoSave = true;
        again.SaveSettings.RegistryKey = kKey;
        again.Loaded();
        QCOMPARE(again.columnWidth(1), 33);
        QCOMPARE(again.sortColumn(), 2);
        QVERIFY(!again.sortAscending());
        QCOMPARE(again.viewStyle(), 2);
        QCOMPARE(again.activeView(), static_cast<QAbstractItemView *>(again.iconView()));
    }

    void oddSavedValuesAreLimitedOrSkipped()
    {
        {
            const auto store = openUserStore(kKey);
            store->setValue("Columns/Sizes", "11,zz");
            store->setValue("Sort/SortCol", 9);
            store->setValue("ViewStyle/ViewStyle", 7);
        }
        TEnhListView list;
        threeColumns(list);
        list.AutoColumnSort = acsSort;
        list.SaveSettings.AutoSave = true;
        list.SaveSettings.RegistryKey = kKey;
        list.Loaded();
        QCOMPARE(list.columnWidth(0), 11);
        QCOMPARE(list.columnWidth(1), 60);
        QCOMPARE(list.columnWidth(2), 70);
        QCOMPARE(list.sortColumn(), 2);
        QCOMPARE(list.viewStyle(), 3);

        openUserStore(kKey)->setValue("Sort/SortCol", -4);
        TEnhListView negative;
        threeColumns(negative);
        negative.SaveSettings.AutoSave = true;
        negative.SaveSettings.RegistryKey = kKey;
        negative.Loaded();
        QCOMPARE(negative.sortColumn(), 0);
    }

    void clippedCellsTellTheirWholeText()
    {
        TEnhListView list;
        threeColumns(list);
        list.setShowClippedTips(true);
        const QString whole(80, u'w');
        fill(list, {{"short", whole.toStdString()}});
        showList(list);
        auto tipAt = [&](int cell) {
            QTableView *view = list.reportView();
            const QPoint at = view->visualRect(list.model()->index(0, cell)).center();
            QHelpEvent hover(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
            QApplication::sendEvent(view->viewport(), &hover);
            return QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        QCOMPARE(tipAt(0), QString()); // fits: no tip
        QCOMPARE(tipAt(1), whole);
    }

    void reversedArrowsSwapThePictures()
    {
        TEnhListView list;
        threeColumns(list);
        list.setShowSortArrows(true);
        const QImage up = list.ascendingArrow().toImage();
        list.setReverseSortArrows(true);
        QCOMPARE(list.descendingArrow().toImage(), up);
        QVERIFY(list.ascendingArrow().toImage() != up);
        QCOMPARE(list.arrowSide() % 2, 1);
        QCOMPARE(list.ascendingArrow().width(), list.arrowSide());
    }
};

QTEST_MAIN(TestEnhListView)
#include "tst_enhlistview.moc"
