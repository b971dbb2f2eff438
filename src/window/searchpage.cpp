#include "window/searchpage.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "cache/myutils.h"
#include "window/enginetext.h"
#include "window/wherecombobox.h"

namespace veltrano {
namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QComboBox *listBox(QWidget *parent, const std::array<std::string_view, 4> &words)
{
    auto *box = new QComboBox(parent);
    for (const std::string_view word : words)
        box->addItem(engineText(word));
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return box;
}

constexpr int kRowLocation = 4;

} // namespace

TSearchPage::TSearchPage(const TImageList *locationImages, QWidget *parent)
    : QWidget(parent)
    , m_locationImages(locationImages)
{
    createRows();
    createLocation();
    setStartValues();
    // A default button acts only in dialogs; here the boxes themselves hand Enter on.
    installEventFilter(this);
    for (QWidget *child : findChildren<QWidget *>()) {
        if (child->window() == this) // not the drop-downs, which take their Enter themselves
            child->installEventFilter(this);
    }
}

bool TSearchPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            emit searchRequested();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TSearchPage::createRows()
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(6);
    grid->setColumnStretch(3, 1);

    m_more = new QPushButton(tr("更多"), this);
    m_more->setAutoDefault(false);
    grid->addWidget(m_more, 0, 0);
    for (int row = 0; row < int(kConditionRows); ++row) {
        if (row > 0) {
            m_logic[size_t(row)] = listBox(this, kCompLogicWords);
            grid->addWidget(m_logic[size_t(row)], row, 0);
        }
        m_field[size_t(row)] = listBox(this, kCompFieldWords);
        m_op[size_t(row)] = listBox(this, kCompOpWords);
        m_text[size_t(row)] = new QComboBox(this);
        m_text[size_t(row)]->setEditable(true);
        m_text[size_t(row)]->setInsertPolicy(QComboBox::NoInsert);
        m_text[size_t(row)]->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        m_text[size_t(row)]->setMinimumContentsLength(4);
        m_text[size_t(row)]->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        grid->addWidget(m_field[size_t(row)], row, 1);
        grid->addWidget(m_op[size_t(row)], row, 2);
        grid->addWidget(m_text[size_t(row)], row, 3);
        // Hidden rows keep their place, so the location box never moves.
        grid->setRowMinimumHeight(row, m_field[size_t(row)]->sizeHint().height());
    }
    connect(m_more, &QPushButton::clicked, this, &TSearchPage::BitBtn4Click);
    connect(m_logic[1], &QComboBox::activated, this, &TSearchPage::Logic2ComboBoxChange);
    connect(m_logic[2], &QComboBox::activated, this, &TSearchPage::Logic3ComboBoxChange);
}

void TSearchPage::createLocation()
{
    auto *grid = static_cast<QGridLayout *>(layout());
    m_separator = new QFrame(this);
    m_separator->setFrameShape(QFrame::HLine);
    m_separator->setFrameShadow(QFrame::Sunken);
    grid->addWidget(m_separator, 3, 0, 1, 4);
    m_whereLabel = new QLabel(tr("搜尋位置"), this);
    m_where = new TWhereComboBox(m_locationImages, this);
    // Tells assistive technology what the box is for.
    m_whereLabel->setBuddy(m_where);
    m_where->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    grid->addWidget(m_whereLabel, kRowLocation, 0);
    grid->addWidget(m_where, kRowLocation, 1, 1, 3);
    grid->setRowStretch(kRowLocation + 1, 1);
}

void TSearchPage::setStartValues()
{
    m_logic[1]->setCurrentIndex(clNone);
    m_logic[2]->setCurrentIndex(clNone);
    m_field[0]->setCurrentIndex(cfName);
    m_field[1]->setCurrentIndex(cfSize);
    m_field[2]->setCurrentIndex(cfDate);
    m_op[0]->setCurrentIndex(coContains);
    m_op[1]->setCurrentIndex(coGreater);
    m_op[2]->setCurrentIndex(coGreater);
    Logic2ComboBoxChange();
    m_logic[1]->hide();
}

void TSearchPage::readConditions(TCompInfos &conds) const
{
    for (size_t row = 0; row < kConditionRows; ++row) {
        if (row > 0)
            conds[row].Logic = TCompLogic(std::max(m_logic[row]->currentIndex(), 0));
        conds[row].Field = TCompField(std::max(m_field[row]->currentIndex(), 0));
        conds[row].Op = TCompOp(std::max(m_op[row]->currentIndex(), 0));
        conds[row].Text = m_text[row]->currentText().toStdString();
    }
}

std::array<ConditionTexts, kConditionRows> TSearchPage::displayedTexts() const
{
    std::array<ConditionTexts, kConditionRows> rows;
    for (size_t row = 0; row < kConditionRows; ++row) {
        // The history and the search server read the words back: they stay the list's own
        // words whatever language the boxes show them in.
        if (row > 0)
            rows[row].logic = kCompLogicWords[size_t(std::max(m_logic[row]->currentIndex(), 0))];
        rows[row].field = kCompFieldWords[size_t(std::max(m_field[row]->currentIndex(), 0))];
        rows[row].op = kCompOpWords[size_t(std::max(m_op[row]->currentIndex(), 0))];
        rows[row].text = m_text[row]->currentText().toStdString();
    }
    return rows;
}

void TSearchPage::setRecentTexts(int row, const std::vector<std::string> &texts)
{
    QComboBox *box = m_text[size_t(row)];
    const QString text = box->currentText();
    box->clear();
    for (const std::string &item : texts)
        box->addItem(QString::fromStdString(item));
    box->setEditText(text);
}

std::vector<std::string> TSearchPage::recentTexts(int row) const
{
    std::vector<std::string> texts;
    const QComboBox *box = m_text[size_t(row)];
    for (int i = 0; i < box->count(); ++i)
        texts.push_back(box->itemText(i).toStdString());
    return texts;
}

void TSearchPage::applyRecall(const RecalledRows &rows)
{
    for (size_t row = 0; row < kConditionRows; ++row) {
        const RecalledRow &recalled = rows[row];
        if (row > 0 && recalled.logic)
            m_logic[row]->setCurrentIndex(*recalled.logic);
        if (recalled.field)
            m_field[row]->setCurrentIndex(*recalled.field);
        if (recalled.op)
            m_op[row]->setCurrentIndex(*recalled.op);
        m_text[row]->setEditText(QString::fromStdString(recalled.text));
    }
    Logic2ComboBoxChange();
    Logic3ComboBoxChange();
}

void TSearchPage::setLocations(const std::vector<std::string> &entries)
{
    m_where->clear();
    for (const std::string &entry : entries)
        m_where->addItem(entry == kAllCachedData ? engineText(entry) : qs(entry));
    m_where->setCurrentIndex(entries.empty() ? -1 : 0);
}

int TSearchPage::locationIndex() const
{
    return m_where->currentIndex();
}

std::string TSearchPage::locationText() const
{
    return m_where->currentText().toStdString();
}

void TSearchPage::BitBtn4Click()
{
    if (m_logic[1]->isHidden()) {
        m_logic[1]->show();
        return;
    }
    m_logic[1]->setCurrentIndex(clNone);
    Logic2ComboBoxChange();
    m_logic[1]->hide();
}

void TSearchPage::Logic2ComboBoxChange()
{
    const bool used = m_logic[1]->currentIndex() != clNone;
    if (used) {
        for (QWidget *box : {m_logic[1], m_field[1], m_op[1], m_text[1], m_logic[2]})
            box->show();
        return;
    }
    for (QWidget *box : {m_logic[1], m_field[1], m_op[1], m_text[1]})
        box->hide();
    m_logic[2]->setCurrentIndex(clNone);
    m_logic[2]->hide();
    Logic3ComboBoxChange();
}

void TSearchPage::Logic3ComboBoxChange()
{
    const bool used = m_logic[2]->currentIndex() != clNone;
    for (QWidget *box : {m_field[2], m_op[2], m_text[2]})
        box->setVisible(used);
}

} // namespace veltrano
