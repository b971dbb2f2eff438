#pragma once

#include <QDialog>
#include <QString>

class QPushButton;

namespace veltrano {

class TPanelStatusBar;
class TSystemTreeView;

// The modal folder picker: a folder tree, 確定 / 放棄 / 新目錄, and a status bar with the
// capacity and free space of the selected folder's file system. The caller sets the path
// (a native folder, no trailing '/'), shows the dialog, and reads isAccepted() and path().
class TBrwFolderForm : public QDialog
{
    Q_OBJECT

public:
    explicit TBrwFolderForm(QWidget *parent = nullptr);

    void setPath(const QString &path) { m_path = path; }
    const QString &path() const { return m_path; }
    bool isAccepted() const { return m_accepted; }

    TSystemTreeView *tree() const { return m_tree; }
    TPanelStatusBar *statusBar() const { return m_status; }
    QPushButton *okButton() const { return m_ok; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *newFolderButton() const { return m_newFolder; }

    // The text of the first panel for the file system holding `path`; empty when it cannot be
    // read.
    static QString driveText(const QString &path);

    // Asks for a download folder, starting at `start` (a trailing '/' allowed): the chosen
    // folder with a trailing '/', or the empty text when the user cancelled.
    static QString chooseFolder(QWidget *parent, QString start);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void SystemTreeViewChange(const QString &path);

    TSystemTreeView *m_tree;
    QPushButton *m_ok;
    QPushButton *m_cancel;
    QPushButton *m_newFolder;
    TPanelStatusBar *m_status;
    bool m_accepted = false;
    QString m_path;
};

} // namespace veltrano
