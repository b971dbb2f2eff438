#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include "cache/cachewriter.h"
#include "mainformtest.h"
#include "modaldriver.h"
#include "res/uilanguage.h"
#include "search/compare.h"
#include "store/commoninfo.h"
#include "store/searchhistory.h"
#include "store/setupinfo.h"
#include "support/cachefixture.h"
#include "support/clirun.h"
#include "support/tempdir.h"
#include "widgets/enhlistview.h"
#include "widgets/msgbox.h"
#include "window/application.h"
#include "window/enginetext.h"
#include "window/historypage.h"
#include "window/mainform.h"
#include "window/optionspage.h"
#include "window/searchpage.h"
#include "window/wherecombobox.h"

using namespace veltrano;

// The window speaks the user's language: English under an English locale, Traditional Chinese,
// the program's own, under any other. What files and the search server read stays Chinese.
class TestLanguage : public test::MainFormTest
{
    Q_OBJECT


    // The start-up's choice, from the locale alone.
    void chooseFromLocale(const QByteArray &lang)
    {
        for (const char *name : {"LC_ALL", "LC_MESSAGES", "VELTRANO_LANG"})
            qunsetenv(name);
        qputenv("LANG", lang);
        const std::optional<UiLanguage> language = chooseUiLanguage();
        QVERIFY(language);
        QVERIFY2(applyUiLanguage(*qApp, *language), "the English translations are not built in");
    }
    void makeForm()
    {
        defaultRecords();
        m_form = std::make_unique<TMainForm>(m_setup, m_common, m_folder);
        m_form->FormCreate();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    QString pressEnterIn(const QString &key)
    {
        QComboBox *box = m_form->searchPage()->textBox(0);
        box->setEditText(key);
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        return box->currentText();
    }

private slots:
    void initTestCase()
    {
        takeOverHome();
        std::filesystem::create_directories(m_folder + "Cache/");
        writeCodePageMarker(m_folder + "Cache/", "UTF-8");
        IndexPairWriter pc1;
        pc1.addDirectory("\\\\PC1\\share\\", {test::fileEntry("report.doc", 4096, 37000.5)});
        pc1.write(m_folder + "Cache/", "PC1", CodePage("UTF-8"));
        writeNodeList(m_folder + "Cache/", {test::makeNode("PC1", "PC1", test::indexedKind())});
    }

    void cleanup()
    {
        m_form.reset();
        m_boxes.clear();
    }

    void cleanupTestCase() { applyUiLanguage(*qApp, UiLanguage::TraditionalChinese); }

    void speaksTheLocalesLanguage_data()
    {
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("English") << QByteArray("en_US.UTF-8")
                                 << QStringList{"Name and Location", "Options", "History", "Search",
                                            "Stop", "Clear", "&Open", "Open Co&mputer",
                                            "Open Containing &Folder", "Show Folder &Contents",
                                            "&Save Results", "Name", "Ext.", "File name",
                                            "contains", "(none)", "All cached data", "Error",
                                            "Enter at least one key (not blank)", "Proxy Server",
                                            "OK"};
        const QStringList chinese{"名稱及位置", "條件選項", "歷史", "搜尋", "停止", "清理",
                "開啟(&O)", "開啟所在電腦", "開啟所在資料夾(&F)", "內容提示", "儲存結果", "名稱",
                "副檔名", "檔名", "包含", "無", "所有快取資料", "錯誤",
                "至少輸入一個關鍵值(非空白)", "代理伺服器", "確定"};
        QTest::newRow("Traditional Chinese") << QByteArray("zh_TW.UTF-8") << chinese;
        QTest::newRow("no language") << QByteArray("C.UTF-8") << chinese;
    }

    // Tabs, buttons, the result menu and columns, the condition words, a message from the string
    // table and a dialog, each read back as the user sees it.
    void speaksTheLocalesLanguage()
    {
        QFETCH(QByteArray, lang);
        QFETCH(QStringList, texts);
        chooseFromLocale(lang);
        makeForm();

        QStringList shown;
        for (int i = 0; i < m_form->pages()->count(); ++i)
            shown << m_form->pages()->tabText(i);
        for (QPushButton *button :
                {m_form->searchButton(), m_form->stopButton(), m_form->clearButton()})
            shown << button->text();
        for (QAction *action :
                m_form->findChild<QMenu *>(QStringLiteral("ResultMenu"))->actions()) {
            if (!action->isSeparator())
                shown << action->text();
        }
        const QAbstractItemModel *header = m_form->resultList()->header()->model();
        shown << header->headerData(0, Qt::Horizontal).toString()
              << header->headerData(1, Qt::Horizontal).toString();
        TSearchPage *page = m_form->searchPage();
        shown << page->fieldBox(0)->currentText() << page->opBox(0)->currentText()
              << page->logicBox(1)->currentText() << page->whereBox()->itemText(0);

        pressEnterIn(QStringLiteral("  "));
        QCOMPARE(m_boxes.size(), size_t(1));
        shown << QString::fromStdString(m_boxes[0].title)
              << QString::fromStdString(m_boxes[0].text);

        QString title;
        QString ok;
        test::onNextModal([&](QWidget *dialog) {
            title = dialog->windowTitle();
            for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
                if (button->isDefault())
                    ok = button->text();
            }
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QTest::mouseClick(m_form->optionsPage()->proxyButton(), Qt::LeftButton);
        shown << title << ok;
        QCOMPARE(shown, texts);
    }

    // An English window records the list's own words: the history files and the search server
    // read them back, and a Chinese window must recall them. It shows them in English.
    void englishWindowRecordsTheListsOwnWords()
    {
        chooseFromLocale("en_US.UTF-8");
        makeForm();
        QSignalSpy ended(m_form.get(), &TMainForm::searchEnded);
        pressEnterIn(QStringLiteral("report"));
        QVERIFY(ended.wait(10000));
        QVERIFY(m_boxes.empty());
        const TEnhListModel *history = m_form->historyPage()->listView()->model();
        QCOMPARE(history->count(), 1);
        QCOMPARE(std::string(history->cell(0, 1)), std::string("File name contains report"));
        QCOMPARE(std::string(history->cell(0, 4)),
                std::string("檔名,包含,report;無,檔案大小,大於,;無,修改日期,大於,"));
    }

    // Every word the engine hands the window for showing has its English; a word added to the
    // engine's lists without one would show in Chinese.
    void everyEngineWordHasItsEnglish()
    {
        chooseFromLocale("en_US.UTF-8");
        std::vector<std::string_view> words(kCompFieldWords.begin(), kCompFieldWords.end());
        words.insert(words.end(), kCompOpWords.begin(), kCompOpWords.end());
        words.insert(words.end(), kCompLogicWords.begin(), kCompLogicWords.end());
        words.insert(words.end(), kHistoryColumnTexts.begin(), kHistoryColumnTexts.end());
        words.insert(words.end(), {kHistoryReadFailed, kHistoryWriteFailed, kAllCachedData});
        for (const std::string_view word : words) {
            const QString shown = engineText(word);
            QVERIFY2(shown != QString::fromUtf8(word.data(), qsizetype(word.size())),
                    std::string(word).c_str());
        }
        // The transfer window's log is translated in the transfer engine's own context.
        QCOMPARE(QCoreApplication::translate("TransferEngine", "Thread%1:目錄\"%2\"")
                         .arg(QString::number(0), QStringLiteral("/pub")),
                QStringLiteral("Thread0:folder \"/pub\""));
    }

    // The command line makes the same choice: a string-table message in English under an
    // English locale, and the Chinese under no locale of its own or with --lang zh_TW.
    void commandLineFollowsTheLocale_data()
    {
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("english");
        QTest::newRow("English locale") << "LANG=en_US.UTF-8"
                                        << "" << true;
        QTest::newRow("English locale, --lang zh_TW") << "LANG=en_US.UTF-8"
                                                      << "--lang zh_TW" << false;
        QTest::newRow("no locale") << "LANG=C.UTF-8"
                                   << "" << false;
        QTest::newRow("--lang en") << "LANG=zh_TW.UTF-8"
                                   << "--lang en" << true;
    }
    void commandLineFollowsTheLocale()
    {
        QFETCH(QString, environment);
        QFETCH(QString, option);
        QFETCH(bool, english);
        // A size that "contains" is refused with 50101.
        const test::CliRun run = test::runCommand("env -u LC_ALL -u LC_MESSAGES -u VELTRANO_LANG "
                + environment.toStdString() + " " + VELTRANO_CLI + " search " + option.toStdString()
                + " --cache '" + m_folder + "Cache' size contains 5");
        QCOMPARE(run.status, 2);
        QCOMPARE(QString::fromStdString(run.err).trimmed(),
                english ? QStringLiteral("File size cannot be searched with \"contains\"")
                        : QStringLiteral("檔案大小不支援\"包含\"方法"));
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
