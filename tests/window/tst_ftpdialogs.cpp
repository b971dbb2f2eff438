#include <filesystem>

#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QWindow>

#include "modaldriver.h"
#include "store/setupinfo.h"
#include "support/tempdir.h"
#include "util/datetime.h"
#include "widgets/msgbox.h"
#include "widgets/systemtreeview.h"
#include "window/brwfolderform.h"
#include "window/ftpopenform.h"
#include "window/ftpqueryform.h"
#include "window/optionspage.h"
#include "window/passform.h"
#include "window/proxyform.h"

using namespace veltrano;
namespace fs = std::filesystem;

namespace {

const CodePage &big5()
{
    static const CodePage cp("CP950");
    return cp;
}

// Leaves a dialog the way `how` names: "ok"/"cancel" buttons are passed in, "esc" and
// "close" (the window's close box) are the same for every dialog.
void leave(QDialog &dialog, const QString &how, QPushButton *ok, QPushButton *cancel)
{
    if (how == "ok")
        QTest::mouseClick(ok, Qt::LeftButton);
    else if (how == "cancel")
        QTest::mouseClick(cancel, Qt::LeftButton);
    else if (how == "esc")
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else
        dialog.windowHandle()->close();
}

// Clicks a check box or radio button on its indicator, where a click always lands.
void clickIndicator(QAbstractButton *button)
{
    QTest::mouseClick(
            button, Qt::LeftButton, {}, QPoint(button->height() / 2, button->height() / 2));
}

void retype(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    test::typeText(edit, text);
}

} // namespace

class TestFtpDialogs : public QObject
{
    Q_OBJECT

    test::TempDir m_dir;
    QStringList m_boxes;
    TSetupInfo m_setup;
    std::string m_downloads;

    QString dir() const { return QString::fromStdString(m_dir.path().string()); }

private slots:
    void initTestCase()
    {
        setMsgBoxPresenter([this](const MsgBoxRequest &request) {
            m_boxes << QString::fromStdString(request.text);
            return kIdOk;
        });
        m_downloads = m_dir.path().string() + "/dl/";
        fs::create_directories(m_downloads);
    }
    void init()
    {
        m_boxes.clear();
        DefaultSetupInfo(m_setup, SetupEnvironment{big5(), "/opt/veltrano/", m_downloads});
    }

    // --- connection settings

    void proxyLeftUnchangedStoresTheSame_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("確定") << "ok" << true;
        QTest::newRow("放棄") << "cancel" << false;
        QTest::newRow("Esc") << "esc" << false;
        QTest::newRow("close box") << "close" << false;
    }
    void proxyLeftUnchangedStoresTheSame()
    {
        QFETCH(QString, how);
        QFETCH(bool, confirmed);
        const TSetupInfo before = m_setup;
        TProxyForm form(m_setup, big5());
        form.show();
        QCOMPARE(form.portEdit()->text(), "21");
        QCOMPARE(form.intervalEdit()->text(), "00:00:03");
        QCOMPARE(form.passwordEdit()->echoMode(), QLineEdit::Password);
        if (!confirmed)
            retype(form.hostEdit(), "changed");
        leave(form, how, form.okButton(), form.cancelButton());
        QTRY_VERIFY(!form.isVisible());
        QCOMPARE(form.isConfirmed(), confirmed);
        QVERIFY(m_setup == before);
        QVERIFY(m_boxes.isEmpty());
    }

    void proxyStoresWhatIsTyped()
    {
        {
            TProxyForm form(m_setup, big5());
            form.show();
            retype(form.hostEdit(), "ftp.example");
            retype(form.userEdit(), "張三");
            retype(form.passwordEdit(), QString(130, 'p'));
            retype(form.portEdit(), "2121");
            retype(form.targetEdit(), dir() + "/Files");
            form.tryCountBox()->setFocus();
            form.tryCountBox()->selectAll();
            QTest::keyClicks(form.tryCountBox(), "5");
            retype(form.intervalEdit(), "0:01:30");
            clickIndicator(form.passiveBox());
            clickIndicator(form.remoteButton());
            QTest::keyClick(form.intervalEdit(), Qt::Key_Return);
            QVERIFY(form.isConfirmed());
        }
        QCOMPARE(m_setup.RemoteHost, "ftp.example");
        QCOMPARE(m_setup.RemoteUser, *big5().fromUtf8("張三"));
        QCOMPARE(m_setup.RemotePassword, std::string(126, 'p'));
        QCOMPARE(m_setup.RemotePort, 2121);
        QCOMPARE(m_setup.DownloadFolder, dir().toStdString() + "/Files/");
        QCOMPARE(m_setup.TryCount, 5);
        QCOMPARE(m_setup.TryInterval, *encodeTime(0, 1, 30));
        QCOMPARE(m_setup.PassiveMode, 1);
        QCOMPARE(m_setup.Source, kSourceRemote);
        // And shown that way the next time.
        TProxyForm again(m_setup, big5());
        QCOMPARE(again.userEdit()->text(), "張三");
        QCOMPARE(again.targetEdit()->text(), dir() + "/Files/");
        QCOMPARE(again.intervalEdit()->text(), "00:01:30");
        QVERIFY(again.remoteButton()->isChecked());
    }

    void proxyBadFieldKeepsTheDialogOpen_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("folder"); // appended to the temporary folder
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("storedSteps"); // 1 texts, 2 port, 3 folder and count, 4 interval
        QTest::newRow("port 8x1") << "8x1"
                                  << "/x"
                                  << "00:00:05"
                                  << "「8x1」不是有效的整數" << 1;
        QTest::newRow("port past 16 bits") << "65557"
                                           << "/x"
                                           << "00:00:05"
                                           << "「65557」不是有效的連接埠" << 1;
        QTest::newRow("folder too long") << "2121"
                                         << "/" + QString(140, 'f') << "00:00:05"
                                         << "下載路徑過長" << 2;
        QTest::newRow("folder outside the code page") << "2121"
                                                      << "/ü"
                                                      << "00:00:05"
                                                      << "下載路徑含有無法儲存的字元" << 2;
        QTest::newRow("interval zz") << "2121"
                                     << "/x"
                                     << "zz"
                                     << "" << 3;
    }
    void proxyBadFieldKeepsTheDialogOpen()
    {
        QFETCH(QString, port);
        QFETCH(QString, folder);
        QFETCH(QString, interval);
        QFETCH(QString, box);
        QFETCH(int, storedSteps);
        const TSetupInfo before = m_setup;
        TProxyForm form(m_setup, big5());
        form.show();
        retype(form.hostEdit(), "h2");
        retype(form.userEdit(), "u2");
        retype(form.passwordEdit(), "pw2");
        clickIndicator(form.passiveBox());
        retype(form.portEdit(), port);
        retype(form.targetEdit(), dir() + folder);
        form.tryCountBox()->setFocus();
        form.tryCountBox()->selectAll();
        QTest::keyClicks(form.tryCountBox(), "7");
        retype(form.intervalEdit(), interval);
        clickIndicator(form.remoteButton());
        QTest::mouseClick(form.okButton(), Qt::LeftButton);

        QCOMPARE(m_boxes.size(), 1);
        if (!box.isEmpty())
            QVERIFY2(m_boxes.front().startsWith(box), qPrintable(m_boxes.front()));
        QVERIFY(form.isVisible());
        QVERIFY(!form.isConfirmed());
        QCOMPARE(m_setup.RemoteHost, "h2");
        QCOMPARE(m_setup.RemotePassword, "pw2");
        QCOMPARE(m_setup.PassiveMode, 1);
        QCOMPARE(m_setup.RemotePort, storedSteps >= 2 ? 2121 : before.RemotePort);
        QCOMPARE(m_setup.DownloadFolder,
                storedSteps >= 3 ? (dir() + folder + "/").toStdString() : before.DownloadFolder);
        QCOMPARE(m_setup.TryCount, storedSteps >= 3 ? 7 : before.TryCount);
        QCOMPARE(m_setup.TryInterval, before.TryInterval);
        QCOMPARE(m_setup.Source, before.Source);
        form.close();
    }

    void proxyBrowsesFromTheTypedFolder()
    {
        fs::create_directories(m_downloads + "inner");
        TProxyForm form(m_setup, big5());
        form.show();
        QString startedAt;
        test::onNextModal([&](QWidget *dialog) {
            auto *browser = qobject_cast<TBrwFolderForm *>(dialog);
            startedAt = browser->tree()->GetSelection();
            browser->tree()->SetSelection(QString::fromStdString(m_downloads + "inner"));
            QTest::keyClick(browser, Qt::Key_Return);
        });
        QTest::mouseClick(form.browseButton(), Qt::LeftButton);
        QCOMPARE(startedAt, QString::fromStdString(m_downloads).chopped(1));
        QCOMPARE(form.targetEdit()->text(), QString::fromStdString(m_downloads + "inner/"));
        form.close();
    }

    void optionsPageProxyButtonOpensTheSettings()
    {
        QWidget window;
        QFont font = window.font();
        font.setPointSize(13);
        window.setFont(font);
        auto *page = new TOptionsPage(m_setup, &window);
        window.show();
        QSignalSpy confirmed(page, &TOptionsPage::proxyConfirmed);
        int shownPoints = 0;
        test::onNextModal([&](QWidget *dialog) {
            auto *form = qobject_cast<TProxyForm *>(dialog);
            QVERIFY(form);
            shownPoints = form->font().pointSize();
            retype(form->hostEdit(), "server");
            QTest::keyClick(form->hostEdit(), Qt::Key_Return);
        });
        QTest::mouseClick(page->proxyButton(), Qt::LeftButton);
        QCOMPARE(shownPoints, 13);
        QCOMPARE(confirmed.count(), 1);
        QCOMPARE(m_setup.RemoteHost, "server");
        QVERIFY(m_boxes.isEmpty());
    }

    // --- the question before overwriting

    void queryComparesBothFilesAndAnswers_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("allAlike");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<int>("choice");
        QTest::newRow("覆蓋") << "overwrite" << false << true << int(TFtpQueryForm::Overwrite);
        QTest::newRow("續傳 for all") << "resume" << true << true << int(TFtpQueryForm::Resume);
        QTest::newRow("放棄") << "giveup" << false << false << int(TFtpQueryForm::Overwrite);
        QTest::newRow("close box keeps overwrite")
                << "close" << false << true << int(TFtpQueryForm::Overwrite);
        QTest::newRow("Esc gives up") << "esc" << false << false << int(TFtpQueryForm::Overwrite);
    }
    void queryComparesBothFilesAndAnswers()
    {
        QFETCH(QString, how);
        QFETCH(bool, allAlike);
        QFETCH(bool, confirmed);
        QFETCH(int, choice);
        const QString local = dir() + "/local.bin";
        test::writeFile(local.toStdString(), std::string(1234, 'x'));
        QFile file(local);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(
                QDateTime(QDate(2021, 5, 6), QTime(7, 8, 9)), QFileDevice::FileModificationTime));
        file.close();
        TItemData remote;
        remote.setName(*big5().fromUtf8("報告.doc"));
        remote.Size = 3000000000u;
        remote.Time = *encodeDate(2020, 1, 2) + *encodeTime(3, 4, 6);

        TFtpQueryForm form(big5());
        QString text;
        test::onNextModal([&](QWidget *) {
            text = form.queryLabel()->text();
            if (allAlike)
                clickIndicator(form.allAlikeBox());
            if (how == "overwrite")
                QTest::mouseClick(form.overwriteButton(), Qt::LeftButton);
            else if (how == "resume")
                QTest::mouseClick(form.resumeButton(), Qt::LeftButton);
            else
                leave(form, how == "giveup" ? "cancel" : how, nullptr, form.giveUpButton());
        });
        QCOMPARE(form.ask(remote, local), confirmed);
        QCOMPARE(text,
                "來源檔案\n檔名:報告.doc\n大小:3000000000\n日期:2020/01/02 03:04:06\n\n"
                "目的檔案\n檔名:"
                        + local + "\n大小:1234\n日期:2021/05/06 07:08:08\n\n");
        QCOMPARE(int(form.choice()), choice);
        QCOMPARE(form.allAlike(), allAlike);
        QCOMPARE(form.localPath(), local);
    }

    void queryChangeComparesTheNewName()
    {
        TItemData remote;
        remote.setName("a.txt");
        TFtpQueryForm form(big5());
        const QString fresh = dir() + "/fresh.bin";
        QString text;
        bool stayedOpen = false;
        test::onNextModal([&](QWidget *) {
            test::onNextModal([&](QWidget *saveDialog) {
                auto *name = saveDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(name, "fresh.bin");
                QTest::keyClick(name, Qt::Key_Return);
            });
            QTest::mouseClick(form.changeButton(), Qt::LeftButton);
            stayedOpen = form.isVisible();
            text = form.queryLabel()->text();
            QTest::mouseClick(form.resumeButton(), Qt::LeftButton);
        });
        const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
        QVERIFY(form.ask(remote, dir() + "/missing.bin"));
        QVERIFY(stayedOpen);
        QCOMPARE(form.localPath(), fresh);
        QCOMPARE(form.choice(), TFtpQueryForm::Resume);
        // A file that is not there yet: size 0, dated now.
        const QStringList lines = text.split('\n');
        QCOMPARE(lines.mid(6, 2), QStringList({"檔名:" + fresh, "大小:0"}));
        const QDateTime shown = QDateTime::fromString(lines[8].mid(3), "yyyy/MM/dd HH:mm:ss");
        QVERIFY2(shown >= before && shown <= QDateTime::currentDateTime(), qPrintable(lines[8]));
    }

    // --- the question on opening a remote hit

    void openOffersWhatFits_data()
    {
        QTest::addColumn<bool>("isFile");
        QTest::addColumn<bool>("pickDownload");
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<int>("choice");
        QTest::newRow("file, 確定") << true << false << "ok" << true << 1;
        QTest::newRow("file, 下載 then Enter") << true << true << "enter" << true << 2;
        QTest::newRow("file, 放棄") << true << false << "cancel" << false << 1;
        QTest::newRow("file, close box") << true << false << "close" << false << 1;
        QTest::newRow("folder, Esc") << false << false << "esc" << false << 2;
        QTest::newRow("folder, 確定") << false << false << "ok" << true << 2;
    }
    void openOffersWhatFits()
    {
        QFETCH(bool, isFile);
        QFETCH(bool, pickDownload);
        QFETCH(QString, how);
        QFETCH(bool, confirmed);
        QFETCH(int, choice);
        TFtpOpenForm form;
        bool openOffered = true;
        QString memo;
        test::onNextModal([&](QWidget *) {
            openOffered = form.openButton()->isEnabled();
            memo = form.fileMemo()->toPlainText();
            if (pickDownload)
                clickIndicator(form.downloadButton());
            if (how == "enter")
                QTest::keyClick(&form, Qt::Key_Return);
            else
                leave(form, how, form.okButton(), form.cancelButton());
        });
        QCOMPARE(form.ask("\\\\PC1\\share\\報告.doc", isFile), confirmed);
        QCOMPARE(int(form.choice()), choice);
        QCOMPARE(openOffered, isFile);
        QCOMPARE(memo, "您選擇從這個位置下載檔案\n\\\\PC1\\share\\報告.doc");
    }

    // --- the logon box

    void passOpensAboveThePointerOnScreen_data()
    {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QString>("where"); // "corner", "above", "right edge"
        QTest::newRow("top-left corner") << QPoint(5, 5) << "corner";
        QTest::newRow("middle") << QPoint(400, 450) << "above";
        QTest::newRow("right edge") << QPoint(795, 450) << "right edge";
    }
    void passOpensAboveThePointerOnScreen()
    {
        QFETCH(QPoint, pointer);
        QFETCH(QString, where);
        QCursor::setPos(pointer);
        TPassForm form;
        form.show();
        const QRect frame = form.frameGeometry();
        const QRect screen = form.screen()->availableGeometry();
        QVERIFY(screen.contains(frame));
        if (where == "corner")
            QCOMPARE(frame.topLeft(), QPoint(0, 0));
        if (where == "above") {
            QCOMPARE(frame.left() + frame.width() / 2, pointer.x());
            QCOMPARE(frame.bottom() + 1 + 20, pointer.y());
        }
        if (where == "right edge")
            QCOMPARE(frame.right(), screen.right());
        form.close();
    }

    void passReturnsWhatWasTyped_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<QString>("how");
        QTest::newRow("typed, 確定") << "bob"
                                     << "密碼1" << true << "ok";
        QTest::newRow("empty, Enter") << ""
                                      << "" << false << "enter";
        QTest::newRow("typed, 放棄") << "bob"
                                     << "x" << true << "cancel";
        QTest::newRow("typed, Esc") << "bob"
                                    << "x" << false << "esc";
    }
    void passReturnsWhatWasTyped()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, remember);
        QFETCH(QString, how);
        TPassForm form;
        form.UserName = "preset";
        form.show();
        QCOMPARE(form.userNameEdit()->text(), "preset");
        QVERIFY(!form.isConfirmed());
        retype(form.userNameEdit(), user);
        retype(form.passwordEdit(), password);
        retype(form.computerEdit(), "PC9");
        if (remember)
            clickIndicator(form.findChild<QCheckBox *>());
        if (how == "enter")
            QTest::keyClick(form.passwordEdit(), Qt::Key_Return);
        else
            leave(form, how, form.okButton(), form.cancelButton());
        QVERIFY(!form.isVisible());
        const bool confirmed = how == "ok" || how == "enter";
        QCOMPARE(form.isConfirmed(), confirmed);
        QCOMPARE(form.UserName, confirmed ? user : "preset");
        QCOMPARE(form.Password, confirmed ? password : QString());
        QCOMPARE(form.ComputerName, confirmed ? "PC9" : QString());
        QCOMPARE(form.Remember, remember);
    }

    // Not a test: with VELTRANO_SHOT_DIR set (under a real display), saves each dialog at the
    // default font and at 12 pt for a person to look at.
    void screenshots()
    {
        const QString out = qEnvironmentVariable("VELTRANO_SHOT_DIR");
        if (out.isEmpty())
            QSKIP("VELTRANO_SHOT_DIR not set");
        for (int points : {0, 12}) {
            const QString suffix = points ? "-12pt" : "";
            QFont font = QApplication::font();
            if (points)
                font.setPointSize(points);
            const auto save = [&](QWidget *widget, const QString &name) {
                QTest::qWait(300);
                QVERIFY(widget->grab().save(out + "/shot-" + name + suffix + ".png"));
            };
            {
                TBrwFolderForm form;
                form.setFont(font);
                form.setPath(QString::fromStdString(m_downloads).chopped(1));
                form.show();
                save(&form, "brwfolder");
            }
            {
                TProxyForm form(m_setup, big5());
                form.setFont(font);
                form.show();
                save(&form, "proxy");
            }
            {
                TFtpQueryForm form(big5());
                form.setFont(font);
                TItemData remote;
                remote.setName(*big5().fromUtf8("\\\\PC1\\共用資料\\年度報告.doc"));
                remote.Size = 123456;
                remote.Time = 44000.5;
                test::onNextModal([&](QWidget *) {
                    save(&form, "ftpquery");
                    QTest::mouseClick(form.giveUpButton(), Qt::LeftButton);
                });
                form.ask(remote, QString::fromStdString(m_downloads) + "年度報告.doc");
            }
            {
                TFtpOpenForm form;
                form.setFont(font);
                test::onNextModal([&](QWidget *) {
                    save(&form, "ftpopen");
                    QTest::mouseClick(form.cancelButton(), Qt::LeftButton);
                });
                form.ask("\\\\PC1\\共用資料\\年度報告.doc", true);
            }
            {
                TPassForm form;
                form.setFont(font);
                form.show();
                save(&form, "pass");
            }
        }
    }
};

QTEST_MAIN(TestFtpDialogs)
#include "tst_ftpdialogs.moc"
