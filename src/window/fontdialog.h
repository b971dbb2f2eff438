#pragma once

#include <QDialog>

class QComboBox;
class QFontComboBox;
class QLabel;

namespace veltrano {

// The choice of the window's font: a face among the installed ones and a size, with OK, Cancel
// and Apply. There is no style choice: the window keeps one plain font. The dialog starts from
// the face and size it is given; a face that is not installed is shown as Qt's substitute, and
// as long as the user leaves the face (or the size) alone, the given one is what the dialog
// answers, so that confirming without a change changes nothing.
class TFontDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TFontDialog(QWidget *parent = nullptr);

    void setChoice(const QString &family, int pointSize);
    QString chosenFamily() const;
    int chosenSize() const;

    QFontComboBox *familyBox() const { return m_family; }
    QComboBox *sizeBox() const { return m_size; }

signals:
    // Apply was pressed; the choice stands as chosenFamily() and chosenSize() say.
    void applied();

private:
    void showSample();

    QFontComboBox *m_family;
    QComboBox *m_size;
    QLabel *m_sample;
    QString m_givenFamily;
    QString m_shownFamily;
    int m_givenSize = 0;
};

} // namespace veltrano
