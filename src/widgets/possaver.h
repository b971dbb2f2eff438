#pragma once

#include <string>

#include <QObject>

class QWidget;

namespace veltrano {

// Root keys of the registry; the per-user store has only one, _CURRENT_USER, and the others
// are kept so that a form's settings read as they were designed.
enum TPosSaverHKEY {
    _CLASSES_ROOT,
    _CURRENT_USER,
    _LOCAL_MACHINE,
    _USERS,
    _PERFORMANCE_DATA,
    _CURRENT_CONFIG,
    _DYN_DATA,
};

// Remembers where a window was: restores its normal rectangle from the per-user store on the
// first show and writes it back at every close after that (the window's own close handling runs
// first, and its answer does not matter). A child of the form it watches.
class TFormPosSaver : public QObject
{
    Q_OBJECT

public:
    explicit TFormPosSaver(QWidget *form);

    bool SavePos = true;
    std::string RegKey;
    TPosSaverHKEY RegRootKey = _CURRENT_USER;
    int DesignRes = 96;
    std::string ExtraParam1;
    std::string ExtraParam2;
    std::string ExtraParam3;

    void Restore();
    void Save();
    // Rescales the form's children from DesignRes to the screen's resolution.
    void FixResolution();
    bool restored() const { return m_restored; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_form;
    bool m_restored = false;
};

} // namespace veltrano
