#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace veltrano {

// Asks for a user name and password when the server refuses a logon. It opens just above the
// mouse pointer, kept on the screen. The caller may preset the user name and password; the
// results are read after it closes.
class TPassForm : public QDialog
{
    Q_OBJECT

public:
    explicit TPassForm(QWidget *parent = nullptr);

    QString UserName;
    QString Password;
    QString ComputerName;
    bool Remember = false;
    bool isConfirmed() const { return m_confirmed; }

    QLineEdit *computerEdit() const { return m_computer; }
    QLineEdit *userNameEdit() const { return m_userName; }
    QLineEdit *passwordEdit() const { return m_password; }
    QPushButton *okButton() const { return m_ok; }
    QPushButton *cancelButton() const { return m_cancel; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    void BitBtn1Click();
    void BitBtn2Click();

    bool m_confirmed = false;
    QLineEdit *m_computer;
    QLineEdit *m_userName;
    QLineEdit *m_password;
    QCheckBox *m_record;
    QPushButton *m_ok;
    QPushButton *m_cancel;
};

} // namespace veltrano
