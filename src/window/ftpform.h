#pragma once

#include <memory>
#include <string>

#include <QWidget>

#include "transfer/transferengine.h"

class QAction;
class QMenu;
class QTextEdit;
class QToolBar;

namespace veltrano {

class TEnhListView;
class TImageList;
class TPanelStatusBar;

// The transfer window: the log of both clients (newest first, trace green, progress navy,
// errors red), the download queue, the status bar with its gauge, the toolbar and the queue's
// menu. The work itself is the engine's; this window shows it, answers its questions with the
// dialogs, and takes the remote rows dropped on the queue. Closing only hides it: the main
// window owns it for the rest of the run.
class TFtpForm : public QWidget, private TransferQuestions
{
    Q_OBJECT

public:
    // `programFolder` holds the listing files and the viewer program.
    TFtpForm(CodePage codePage, const QString &programFolder, QWidget *parent = nullptr);
    ~TFtpForm() override;

    TransferEngine &engine() { return *m_engine; }
    // The code page of the server's paths and texts.
    const CodePage &codePage() const { return m_cp; }
    // UTF-8 local folder of downloads and queue rows.
    std::string DownloadFolder;

    void ConnectSessions(const std::string &host, const std::string &user, const std::string &port,
            const std::string &password);
    // Drops both connections and logs on again, to another server or the same one.
    void ReconnectSessions(const std::string &host, const std::string &user,
            const std::string &port, const std::string &password);
    // Asks whether to download and open, or download into a chosen folder.
    void OpenRemoteItem(const TItemData &item);

    QTextEdit *logEdit() const { return m_log; }
    TEnhListView *queueList() const { return m_queue; }
    TPanelStatusBar *statusBar() const { return m_status; }
    QToolBar *toolBar() const { return m_toolBar; }
    QMenu *queueMenu() const { return m_menu; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ExistAnswer askExisting(const TItemData &remote, const std::string &localPath) override;
    bool askLogon(std::string &user, std::string &password) override;

    void createToolBar();
    void createMenu();
    void createStatusBar();
    void addLogLine(LogColour colour, const QString &text);
    void refreshQueue();
    void sortQueue(int column);
    void showCounters();
    void openDownloaded(const QString &path);
    void guarded(const std::function<void()> &body);

    CodePage m_cp;
    QString m_programFolder;
    TransferEngine *m_engine;
    QToolBar *m_toolBar;
    QTextEdit *m_log;
    TEnhListView *m_queue;
    TPanelStatusBar *m_status;
    QMenu *m_menu;
    QAction *m_queueAction = nullptr;
    int m_sortColumn = -1;
    bool m_sortAscending = true;
    std::unique_ptr<TImageList> m_images;
};

} // namespace veltrano
