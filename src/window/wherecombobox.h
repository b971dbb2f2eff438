#pragma once

#include <QComboBox>
#include <QStyledItemDelegate>

namespace veltrano {

class TImageList;

// The search location box. Entries of one blank, a cache folder and a path (" Net\A\B") are the
// children of the folder entry above them: while the list is dropped down each leading blank
// indents an entry by 32 pixels and only its last path component is shown; the closed box
// shows the whole text. Every entry carries image 0 of the location images.
class TWhereComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit TWhereComboBox(const TImageList *images, QWidget *parent = nullptr);

    static constexpr int kItemHeight = 20;
    bool droppedDown() const { return m_droppedDown; }
    const TImageList *images() const { return m_images; }

    void showPopup() override;
    void hidePopup() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const TImageList *m_images;
    bool m_droppedDown = false;
};

// Draws one entry as WhereComboBoxDrawItem does: 4 pixels in, focus colours or window colours,
// the indent and last component while dropped down, image 0, then the text 18 pixels further.
class WhereItemDelegate : public QStyledItemDelegate
{
public:
    explicit WhereItemDelegate(TWhereComboBox *box);
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The text an entry shows and its indent, dropped down or not.
    static QString shownText(const QString &text, bool droppedDown, int *indent);

private:
    TWhereComboBox *m_box;
};

// Paints one entry into rect; shared by the drop-down list and the closed box.
void WhereComboBoxDrawItem(QPainter *painter, const QRect &rect, const QString &text, bool focused,
                           bool droppedDown, const QPalette &palette, const QPixmap &image);

} // namespace veltrano
