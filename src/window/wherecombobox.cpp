#include "window/wherecombobox.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include "widgets/images.h"

namespace veltrano {

QString WhereItemDelegate::shownText(const QString &text, bool droppedDown, int *indent)
{
    int blanks = 0;
    while (blanks < text.size() && text[blanks] == u' ')
        ++blanks;
    if (indent)
        *indent = droppedDown ? 32 * blanks : 0;
    if (!droppedDown)
        return text;
    const QString trimmed = text.trimmed();
    const qsizetype slash = trimmed.lastIndexOf(u'\\');
    return slash < 0 ? trimmed : trimmed.mid(slash + 1);
}

void WhereComboBoxDrawItem(QPainter *painter, const QRect &rect, const QString &text, bool focused,
                           bool droppedDown, const QPalette &palette, const QPixmap &image)
{
    int left = rect.left() + 4;
    painter->fillRect(rect, focused ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base));
    painter->setPen(focused ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text));
    int indent = 0;
    const QString shown = WhereItemDelegate::shownText(text, droppedDown, &indent);
    left += indent;
    if (!image.isNull())
        painter->drawPixmap(left, rect.top() + (rect.height() - 16) / 2, image);
    const QRect textRect(left + 18, rect.top(), std::max(rect.right() - left - 18, 0), rect.height());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

WhereItemDelegate::WhereItemDelegate(TWhereComboBox *box)
    : QStyledItemDelegate(box)
    , m_box(box)
{
}

void WhereItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const
{
    const bool focused = option.state & (QStyle::State_Selected | QStyle::State_HasFocus);
    const QPixmap image = m_box->images() ? m_box->images()->icon(0).pixmap(16, 16) : QPixmap();
    WhereComboBoxDrawItem(painter, option.rect, index.data().toString(), focused,
                          m_box->droppedDown(), option.palette, image);
}

QSize WhereItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(TWhereComboBox::kItemHeight);
    return size;
}

TWhereComboBox::TWhereComboBox(const TImageList *images, QWidget *parent)
    : QComboBox(parent)
    , m_images(images)
{
    setItemDelegate(new WhereItemDelegate(this));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(10);
}

void TWhereComboBox::showPopup()
{
    m_droppedDown = true;
    QComboBox::showPopup();
}

void TWhereComboBox::hidePopup()
{
    QComboBox::hidePopup();
    m_droppedDown = false;
    update();
}

void TWhereComboBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                QStyle::SC_ComboBoxEditField, this);
    const QPixmap image = m_images ? m_images->icon(0).pixmap(16, 16) : QPixmap();
    WhereComboBoxDrawItem(&painter, field, currentText(), hasFocus(), false, palette(), image);
}

} // namespace veltrano
