#pragma once

#include <array>

#include <QWidget>

class QCheckBox;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace veltrano {

struct TSetupInfo;

// The page "條件選項": the seven option boxes (Tags 1 to 7), the minimum-hits number box, the
// view buttons "清單" and "詳細資料", and the buttons "字型" and "代理伺服器". Every box writes
// its setting as soon as it changes; the view buttons and the font button are announced by
// signals for the window to act on. The proxy button opens the connection settings on the
// settings record and announces only a confirmed change.
class TOptionsPage : public QWidget
{
    Q_OBJECT

public:
    explicit TOptionsPage(TSetupInfo &setup, QWidget *parent = nullptr);

    // Sets the boxes from the settings (without writing them back).
    void loadFromSettings();
    // The option box of `tag` (1 to 7).
    QCheckBox *checkBox(int tag) const { return m_boxes[size_t(tag - 1)]; }
    QSpinBox *hitNumBox() const { return m_hitNum; }
    QRadioButton *listButton() const { return m_list; }
    QRadioButton *detailsButton() const { return m_details; }
    QPushButton *fontButton() const { return m_font; }
    QPushButton *proxyButton() const { return m_proxy; }
    // Results follow the key box as the user types (SearchAsYouType).
    QCheckBox *typingBox() const { return m_typing; }

    // Writes the box's state into the setting its Tag names.
    void OnlyShowFolderCheckBoxClick(QCheckBox *box);
    void HitNumCSpinEditChange(int value);
    // Opens the connection settings with the window's font.
    void ProxyButtonClick();

signals:
    // 2 for "清單", 3 for "詳細資料".
    void viewStyleChosen(int style);
    void fontClicked();
    // The connection settings were confirmed (and stored in the record).
    void proxyConfirmed();

private:
    void createBoxes();
    void createButtons();
    void createTypingBox();

    TSetupInfo &m_setup;
    std::array<QCheckBox *, 7> m_boxes {};
    QSpinBox *m_hitNum = nullptr;
    QRadioButton *m_list = nullptr;
    QRadioButton *m_details = nullptr;
    QPushButton *m_font = nullptr;
    QPushButton *m_proxy = nullptr;
    QCheckBox *m_typing = nullptr;
};

} // namespace veltrano
