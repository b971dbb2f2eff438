#pragma once

#include <vector>

#include <QIcon>
#include <QPixmap>

namespace veltrano {

// The program's own 16 x 16 pictures, drawn in code so that they need no files.
namespace images {

QPixmap network();   // the network neighbourhood: a globe
QPixmap computers(); // two computers
QPixmap clock();     // a clock face, for history rows
QPixmap file();      // a plain sheet of paper
QPixmap folder();    // a yellow folder
QPixmap redCross();  // off line
QPixmap greenTick(); // on line
QPixmap question();  // state unknown

// The frames of the searching animation: a magnifier sweeping over a sheet.
std::vector<QPixmap> findFrames();

} // namespace images

// A list of images addressed by index, as the lists of the program use them (image 0, 1, ...).
// Images are appended and never removed.
class TImageList
{
public:
    int add(const QIcon &icon)
    {
        m_icons.push_back(icon);
        return int(m_icons.size()) - 1;
    }
    int count() const { return int(m_icons.size()); }
    // The image at `index`; a null icon for an index outside the list.
    QIcon icon(int index) const
    {
        return index >= 0 && index < count() ? m_icons[size_t(index)] : QIcon();
    }

private:
    std::vector<QIcon> m_icons;
};

} // namespace veltrano
