#include "widgets/userstore.h"

#include <QStringList>

namespace veltrano {

std::unique_ptr<QSettings> openUserStore(std::string_view registryKey)
{
    QStringList parts = QString::fromUtf8(registryKey.data(), qsizetype(registryKey.size()))
                            .split(u'\\', Qt::SkipEmptyParts);
    if (!parts.isEmpty() && parts.front().compare(u"Software", Qt::CaseInsensitive) == 0)
        parts.removeFirst();
    const QString organisation = parts.isEmpty() ? QStringLiteral("Veltrano") : parts.takeFirst();
    const QString application = parts.isEmpty() ? QStringLiteral("Veltrano") : parts.takeFirst();
    auto store = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, organisation,
                                             application);
    if (!parts.isEmpty())
        store->beginGroup(parts.join(u'/'));
    return store;
}

} // namespace veltrano
