#pragma once

#include <QDialog>
#include <QString>

#include "cache/indexscan.h"
#include "util/codepage.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace veltrano {

// Asks what to do with a file about to be downloaded over one that already exists: 覆蓋
// (overwrite), 續傳 (resume) or 放棄 (give up), optionally for all further files, after
// comparing the two. 變更 picks another local name and compares again. Closing the window
// through its close box keeps overwrite, confirmed; Esc gives up.
class TFtpQueryForm : public QDialog
{
    Q_OBJECT

public:
    enum Choice {
        Overwrite,
        Resume
    };

    // `codePage` reads the remote entry's name.
    explicit TFtpQueryForm(CodePage codePage, QWidget *parent = nullptr);

    // Shows the question for `remote` over the native `localPath` and returns the result flag.
    bool ask(const TItemData &remote, const QString &localPath);

    bool isConfirmed() const { return m_confirmed; }
    Choice choice() const { return m_choice; }
    // The local path, changed when 變更 picked another name.
    const QString &localPath() const { return m_localPath; }
    bool allAlike() const { return m_allAlike; }

    QLabel *queryLabel() const { return m_query; }
    QPushButton *overwriteButton() const { return m_overwrite; }
    QPushButton *resumeButton() const { return m_resume; }
    QPushButton *giveUpButton() const { return m_giveUp; }
    QCheckBox *allAlikeBox() const { return m_allAlikeBox; }
    QPushButton *changeButton() const { return m_change; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    // The local file as the comparison shows it: no file (or one that cannot be read) is
    // size 0, dated now.
    struct LocalFile
    {
        QString name;
        qint64 size = 0;
        double time = 0;
    };
    static LocalFile readLocalFile(const QString &path);
    void buildText();
    void BitBtn3Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void Button1Click();

    CodePage m_codePage;
    TItemData m_remote;
    LocalFile m_local;
    QString m_localPath;
    Choice m_choice = Overwrite;
    bool m_allAlike = false;
    bool m_confirmed = false;
    bool m_closing = false;
    QLabel *m_query;
    QPushButton *m_overwrite;
    QPushButton *m_resume;
    QPushButton *m_giveUp;
    QCheckBox *m_allAlikeBox;
    QPushButton *m_change;
};

} // namespace veltrano
