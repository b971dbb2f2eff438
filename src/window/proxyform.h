#pragma once

#include <optional>

#include <QDialog>

#include "util/codepage.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace veltrano {

struct TSetupInfo;

// The modal dialog "代理伺服器": where searches run (this machine's cache or the remote
// search server), how the server is reached, and how downloads behave. It edits the settings
// record in place when 確定 is pressed; the record is written to disk when the program ends.
// A port or interval that cannot be read leaves the dialog open with the fields before it
// already stored, and says why in an error box.
class TProxyForm : public QDialog
{
    Q_OBJECT

public:
    TProxyForm(TSetupInfo &setup, CodePage codePage, QWidget *parent = nullptr);

    // True once 確定 has stored the fields and closed the dialog.
    bool isConfirmed() const { return m_confirmed; }

    QRadioButton *localButton() const { return m_local; }
    QRadioButton *remoteButton() const { return m_remote; }
    QLineEdit *hostEdit() const { return m_host; }
    QLineEdit *userEdit() const { return m_user; }
    QLineEdit *passwordEdit() const { return m_password; }
    QLineEdit *portEdit() const { return m_port; }
    QCheckBox *passiveBox() const { return m_passive; }
    QLineEdit *targetEdit() const { return m_target; }
    QPushButton *browseButton() const { return m_browse; }
    QSpinBox *tryCountBox() const { return m_tryCount; }
    QLineEdit *intervalEdit() const { return m_interval; }
    QPushButton *okButton() const { return m_ok; }
    QPushButton *cancelButton() const { return m_cancel; }

    // The interval as the dialog shows it (hh:mm:ss) and reads it back: a time alone is a
    // fraction of a day, a date-time its whole value.
    static QString intervalText(double days);
    static std::optional<double> parseInterval(const QString &text);

private:
    void createControls();
    void FormCreate();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    // Each stores its part of the record, or shows why it cannot and returns false.
    bool storePort();
    bool storeDownloadFolder();
    bool storeInterval();

    TSetupInfo &m_setup;
    CodePage m_codePage;
    bool m_confirmed = false;
    QRadioButton *m_local = nullptr;
    QRadioButton *m_remote = nullptr;
    QTabWidget *m_pages = nullptr;
    QLineEdit *m_host = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
    QLineEdit *m_port = nullptr;
    QCheckBox *m_passive = nullptr;
    QLineEdit *m_target = nullptr;
    QPushButton *m_browse = nullptr;
    QSpinBox *m_tryCount = nullptr;
    QLineEdit *m_interval = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
};

} // namespace veltrano
