#include <thread>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "store/commoninfo.h"
#include "store/setupinfo.h"
#include "support/tempdir.h"
#include "util/bytereader.h"
#include "widgets/msgbox.h"
#include "widgets/possaver.h"
#include "widgets/userstore.h"
#include "window/application.h"
#include "window/mainform.h"
#include "window/startup.h"

using namespace veltrano;

namespace {

uint32_t firstWord(const std::string &bytes)
{
    return bytes.size() >= 4 ? readU32le(reinterpret_cast<const unsigned char *>(bytes.data())) : 0;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    test::TempDir m_home;
    std::vector<MsgBoxRequest> m_boxes;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((m_home.path() / "config").string()));
        qputenv("VELTRANO_HOME", QByteArray::fromStdString(m_home.path().string()));
        std::filesystem::current_path(m_home.path()); // COMMON.INI lives in the current folder
        setMsgBoxPresenter([this](const MsgBoxRequest &request) {
            m_boxes.push_back(request);
            return request.kind == mkQuestion ? kIdNo : kIdOk;
        });
    }

    void firstRunWritesBothRecordsAndThePosition()
    {
        QString title;
        const int status = runProgram(*qApp, [&](TMainForm &form) {
            title = form.windowTitle();
            form.setGeometry(40, 50, 640, 480);
            QTimer::singleShot(0, &form, [&form] { form.close(); });
        });
        QCOMPARE(status, 0);
        QCOMPARE(title, QStringLiteral("Veltrano"));
        const std::string setup = test::readFile(m_home.path() / "Veltrano.inf");
        QCOMPARE(setup.size(), kSetupInfoSize);
        QCOMPARE(firstWord(setup), kSetupInfoVersion);
        const std::string common = test::readFile(m_home.path() / "COMMON.INI");
        QCOMPARE(common.size(), kCommonInfoSize);
        QCOMPARE(firstWord(common), kCommonInfoVersion);
        QCOMPARE(readU32le(reinterpret_cast<const unsigned char *>(common.data()) + 8), 250u);
        for (const char *name : {"TEXT1.HIS", "TEXT2.HIS", "TEXT3.HIS"})
            QVERIFY(std::filesystem::exists(m_home.path() / name));
        const auto store = openUserStore("\\Software\\Calderwick\\Drellmoor\\Veltrano");
        QCOMPARE(store->value("Width").toInt(), 640);
        QCOMPARE(store->value("Height").toInt(), 480);
        QCOMPARE(store->value("ExtraParam1").toString(), QString());
        const auto list = openUserStore("\\Software\\Calderwick\\Drellmoor\\Veltrano\\ListView");
        QCOMPARE(list->value("Columns/Sizes").toString(), QStringLiteral("172,64,75,100,100,100"));
        QCOMPARE(list->value("ViewStyle/ViewStyle").toInt(), 3);
        QVERIFY(m_boxes.empty());
    }

    void positionSaverRestoresAndSkipsBadValues()
    {
        const char *key = "\\Software\\Calderwick\\Drellmoor\\PosTest";
        {
            const auto store = openUserStore(key);
            store->setValue("Top", 60);
            store->setValue("Left", 70);
            store->setValue("Width", "wide");
            store->setValue("Height", 222);
        }
        QWidget form;
        form.resize(333, 100);
        auto *saver = new TFormPosSaver(&form);
        saver->RegKey = key;
        form.show();
        QVERIFY(saver->restored());
        QCOMPARE(form.geometry().top(), 60);
        QCOMPARE(form.geometry().left(), 70);
        QCOMPARE(form.width(), 333);
        QCOMPARE(form.height(), 222);
        form.close();
        QCOMPARE(openUserStore(key)->value("Width").toInt(), 333);
    }

    void positionIsWrittenEvenWhenTheFormRefusesToClose()
    {
        struct Stubborn : QWidget
        {
            void closeEvent(QCloseEvent *event) override { event->ignore(); }
        } form;
        const char *key = "\\Software\\Calderwick\\Drellmoor\\Stubborn";
        auto *saver = new TFormPosSaver(&form);
        saver->RegKey = key;
        form.resize(300, 200);
        form.show();
        QVERIFY(!form.close());
        QVERIFY(form.isVisible());
        QCOMPARE(openUserStore(key)->value("Height").toInt(), 200);
    }

    void boxesCarryTheirKindsTitleAndAnswer()
    {
        m_boxes.clear();
        QCOMPARE(MsgBoxRes(nullptr, 50105, mkInformation), kIdOk);
        QCOMPARE(MsgBox(nullptr, "", mkError), kIdOk);
        QCOMPARE(MsgBox(nullptr, "q", mkQuestion), kIdNo);
        QCOMPARE(m_boxes.size(), size_t(3));
        QCOMPARE(m_boxes[0].text, std::string("請先停止搜尋"));
        QCOMPARE(m_boxes[0].title, std::string("資訊"));
        QCOMPARE(m_boxes[1].title, std::string("錯誤"));
        QCOMPARE(m_boxes[2].title, std::string("詢問"));
    }

    void realBoxShowsItsTextAsTypedWithQtsChineseButtons()
    {
        QVERIFY2(loadQtTranslations(*qApp), "qt6-translations-l10n is not installed");
        const MsgBoxPresenter recording = setMsgBoxPresenter({});
        QString shown;
        QString ok;
        Qt::TextFormat format = Qt::AutoText;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown = box->text();
            format = box->textFormat();
            ok = box->button(QMessageBox::Ok)->text();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        poll.start(10);
        const int answer = MsgBox(nullptr, "<b>a</b> & <i>.txt", mkError);
        setMsgBoxPresenter(recording);
        QCOMPARE(answer, kIdOk);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(shown, QStringLiteral("<b>a</b> & <i>.txt"));
        QVERIFY2(ok.contains(QStringLiteral("確定")), qPrintable(ok));
    }

    void aWorkerThreadsBoxIsShownOnTheWindowThread()
    {
        m_boxes.clear();
        std::thread::id shownOn;
        const MsgBoxPresenter previous = setMsgBoxPresenter([&](const MsgBoxRequest &) {
            shownOn = std::this_thread::get_id();
            return kIdYes;
        });
        std::atomic<int> answer {0};
        std::thread worker([&] { answer = MsgBox(nullptr, "from a worker", mkQuestion); });
        QTRY_COMPARE(answer.load(), kIdYes);
        worker.join();
        QCOMPARE(shownOn, std::this_thread::get_id());
        setMsgBoxPresenter(previous);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
