#include "window/optionspage.h"

#include <algorithm>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include "store/setupinfo.h"
#include "widgets/msgbox.h"
#include "window/proxyform.h"

namespace veltrano {
namespace {

// Captions by Tag.
constexpr std::array<const char *, 7> kCaptions = {
    QT_TRANSLATE_NOOP("veltrano::TOptionsPage", "只顯現有相關檔案的資料夾"),
    QT_TRANSLATE_NOOP("veltrano::TOptionsPage", "搜尋前先清理"),
    QT_TRANSLATE_NOOP("veltrano::TOptionsPage", "目錄中命中則不深入搜尋"),
    QT_TRANSLATE_NOOP("veltrano::TOptionsPage", "同目錄命中互斥"),
    QT_TRANSLATE_NOOP("veltrano::TOptionsPage", "只比對目錄名稱"),
    QT_TRANSLATE_NOOP("veltrano::TOptionsPage", "同目錄中命中數必須大於"),
    QT_TRANSLATE_NOOP("veltrano::TOptionsPage", "即時快取資料顯示"),
};

uint8_t &settingOfTag(TSetupInfo &setup, int tag)
{
    switch (tag) {
    case 1:
        return setup.OnlyShowFolder;
    case 2:
        return setup.ClearBeforeFind;
    case 3:
        return setup.HitNoFind;
    case 4:
        return setup.HitExclusive;
    case 5:
        return setup.OnlyFolderName;
    case 6:
        return setup.HitNum;
    default:
        return setup.OnlineShow;
    }
}

constexpr int kHitNumMin = 1;
constexpr int kHitNumMax = 10000;

} // namespace

TOptionsPage::TOptionsPage(TSetupInfo &setup, QWidget *parent)
    : QWidget(parent)
    , m_setup(setup)
{
    createBoxes();
    createButtons();
    createTypingBox();
}

void TOptionsPage::createBoxes()
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(2);
    // Two columns: the search options on the left, the list options on the right.
    constexpr std::array<std::pair<int, int>, 7> kPlace = {
        std::pair {0, 0}, {0, 1}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {1, 1}};
    for (int tag = 1; tag <= 7; ++tag) {
        auto *box = new QCheckBox(tr(kCaptions[size_t(tag - 1)]), this);
        box->setProperty("Tag", tag);
        m_boxes[size_t(tag - 1)] = box;
        connect(box, &QCheckBox::clicked, this, [this, box] { OnlyShowFolderCheckBoxClick(box); });
        if (tag == 6)
            continue;
        grid->addWidget(box, kPlace[size_t(tag - 1)].first, kPlace[size_t(tag - 1)].second);
    }
    m_hitNum = new QSpinBox(this);
    m_hitNum->setRange(kHitNumMin, kHitNumMax);
    m_hitNum->setValue(100);
    // The number belongs to the box beside it; without a label of its own it would be nameless.
    m_hitNum->setAccessibleName(QString::fromUtf8(kCaptions[5]));
    auto *hitRow = new QHBoxLayout;
    hitRow->setSpacing(4);
    hitRow->addWidget(m_boxes[5]);
    hitRow->addWidget(m_hitNum);
    hitRow->addStretch(1);
    grid->addLayout(hitRow, 4, 0);
    connect(m_hitNum, &QSpinBox::valueChanged, this, &TOptionsPage::HitNumCSpinEditChange);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(5, 1);
}

void TOptionsPage::createButtons()
{
    auto *grid = static_cast<QGridLayout *>(layout());
    auto *view = new QGroupBox(this);
    auto *viewRow = new QHBoxLayout(view);
    viewRow->setContentsMargins(6, 2, 6, 2);
    m_list = new QRadioButton(tr("清單"), view);
    m_details = new QRadioButton(tr("詳細資料"), view);
    viewRow->addWidget(m_list);
    viewRow->addWidget(m_details);
    grid->addWidget(view, 2, 1);
    connect(m_list, &QRadioButton::clicked, this, [this] { emit viewStyleChosen(kViewStyleList); });
    connect(m_details, &QRadioButton::clicked, this,
            [this] { emit viewStyleChosen(kViewStyleDetails); });

    auto *buttons = new QHBoxLayout;
    m_font = new QPushButton(tr("字型"), this);
    m_proxy = new QPushButton(tr("代理伺服器"), this);
    for (QPushButton *button : {m_font, m_proxy}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    grid->addLayout(buttons, 4, 1, Qt::AlignBottom);
    connect(m_font, &QPushButton::clicked, this, &TOptionsPage::fontClicked);
    connect(m_proxy, &QPushButton::clicked, this, &TOptionsPage::ProxyButtonClick);
}

void TOptionsPage::createTypingBox()
{
    // Not one of the Tag boxes: its setting has no Tag, and the shared handler must not guess.
    auto *grid = static_cast<QGridLayout *>(layout());
    m_typing = new QCheckBox(tr("輸入時即時搜尋"), this);
    m_typing->setToolTip(tr("在本機快取中搜尋時，停止輸入 150 毫秒後結果清單即隨關鍵字更新；"
                            "只有按 Enter 或「搜尋」的搜尋才記入歷史"));
    // The row above the buttons: a sixth row would squeeze the page's fixed height.
    grid->addWidget(m_typing, 3, 1);
    connect(m_typing, &QCheckBox::clicked, this,
            [this](bool checked) { m_setup.SearchAsYouType = checked ? 1 : 0; });
}

void TOptionsPage::loadFromSettings()
{
    m_typing->setChecked(m_setup.SearchAsYouType != 0);
    for (int tag = 1; tag <= 7; ++tag)
        checkBox(tag)->setChecked(settingOfTag(m_setup, tag) != 0);
    // A stored value out of the box's range is brought into it, setting included, so that the
    // number shown is the one searched with and saved.
    m_setup.HitNumValue = std::clamp(m_setup.HitNumValue, kHitNumMin, kHitNumMax);
    const QSignalBlocker blocker(m_hitNum);
    m_hitNum->setValue(m_setup.HitNumValue);
    if (m_setup.ViewStyle == kViewStyleList)
        m_list->setChecked(true);
    else
        m_details->setChecked(true);
}

void TOptionsPage::OnlyShowFolderCheckBoxClick(QCheckBox *box)
{
    settingOfTag(m_setup, box->property("Tag").toInt()) = box->isChecked() ? 1 : 0;
}

void TOptionsPage::HitNumCSpinEditChange(int value)
{
    m_setup.HitNumValue = value;
}

void TOptionsPage::ProxyButtonClick()
{
    try {
        TProxyForm form(m_setup, CodePage::programDefault(), window());
        form.setFont(window()->font());
        form.exec();
        if (form.isConfirmed())
            emit proxyConfirmed();
    } catch (const std::exception &error) {
        // A code page named in the environment that cannot be opened.
        MsgBox(this, error.what(), mkError);
    }
}

} // namespace veltrano
