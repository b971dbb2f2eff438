#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QByteArray>
#include <QObject>

#include "store/commoninfo.h"
#include "store/setupinfo.h"
#include "support/tempdir.h"
#include "util/codepage.h"
#include "widgets/msgbox.h"
#include "window/mainform.h"

namespace veltrano::test {

// What the main window's tests share: a program folder of their own, the settings records of a
// new installation, and the message boxes recorded instead of shown.
class MainFormTest : public QObject
{
protected:
    TempDir m_home;
    std::string m_folder = m_home.folder();
    std::vector<MsgBoxRequest> m_boxes;
    TSetupInfo m_setup;
    TCommonInfo m_common;
    std::unique_ptr<TMainForm> m_form;

    // Qt's own settings go below the folder too, and every message box is recorded and
    // answered by `answer` (OK when there is none).
    void takeOverHome(std::function<int(const MsgBoxRequest &)> answer = {})
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((m_home.path() / "config").string()));
        setMsgBoxPresenter([this, answer = std::move(answer)](const MsgBoxRequest &request) {
            m_boxes.push_back(request);
            return answer ? answer(request) : kIdOk;
        });
    }
    // The records as a new installation has them; downloads go to `downloads`, else to the
    // program folder.
    void defaultRecords(const std::string &downloads = {})
    {
        DefaultSetupInfo(m_setup, SetupEnvironment {CodePage("CP950"), m_folder,
                                                    downloads.empty() ? m_folder : downloads});
        DefaultCommonInfo(m_common, 0);
    }
};

} // namespace veltrano::test
