#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace veltrano {

// Asks what to do with a remote hit the user opened: 下載且開啟 (download and open) or 下載
// (download only); a folder can only be downloaded. The close box and Esc give up.
class TFtpOpenForm : public QDialog
{
    Q_OBJECT

public:
    enum Choice {
        DownloadAndOpen = 1,
        DownloadOnly = 2
    };

    explicit TFtpOpenForm(QWidget *parent = nullptr);

    // Shows the question for `remotePath` and returns the result flag.
    bool ask(const QString &remotePath, bool isFile);

    bool isConfirmed() const { return m_confirmed; }
    Choice choice() const { return m_choice; }

    QPlainTextEdit *fileMemo() const { return m_memo; }
    QRadioButton *openButton() const { return m_open; }
    QRadioButton *downloadButton() const { return m_download; }
    QPushButton *okButton() const { return m_ok; }
    QPushButton *cancelButton() const { return m_cancel; }

private:
    void BitBtn1Click();
    void BitBtn2Click();

    Choice m_choice = DownloadAndOpen;
    bool m_confirmed = false;
    QPlainTextEdit *m_memo;
    QRadioButton *m_open;
    QRadioButton *m_download;
    QPushButton *m_ok;
    QPushButton *m_cancel;
};

} // namespace veltrano
