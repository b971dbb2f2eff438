#include "window/hitpaths.h"

#include <QStringList>
#include <QUrl>

#include "widgets/enhlistmodel.h"
#include "window/resultlist.h"
#include "window/shellopen.h"

namespace veltrano {
namespace {

QString cellOf(const TEnhListModel &model, int row, int column)
{
    const std::string_view text = model.cell(row, column);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

QString hitPathsText(const TEnhListModel &model, const std::vector<int> &rows, HitPathForm form,
        const TShareMapping &shares)
{
    QStringList lines;
    for (const int row : rows) {
        if (row < 0 || row >= model.count())
            continue;
        const QString path = cellOf(model, row, rcFolder) + cellOf(model, row, rcName);
        if (form == HitPathForm::Unc) {
            lines.append(path);
            continue;
        }
        // The same mapping that opening and dragging use, so a pasted path leads where a
        // double click would.
        const QUrl url = shares.urlFor(path);
        if (url.isEmpty())
            lines.append(path);
        else if (url.isLocalFile())
            lines.append(url.toLocalFile());
        else
            lines.append(url.toString());
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace veltrano
