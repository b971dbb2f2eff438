#include "widgets/fileicons.h"

#include <algorithm>
#include <array>

#include <QMimeDatabase>
#include <QString>

namespace veltrano {

std::string_view dottedExtension(std::string_view name)
{
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

int FileIconIndex(std::string_view fileName, TImageList &images, TExtList &extList)
{
    const std::string_view ext = dottedExtension(fileName);
    if (ext.empty())
        return 0;
    const QString upperExt = QString::fromUtf8(ext.data(), qsizetype(ext.size())).toUpper();
    const std::string key = upperExt.toStdString();

    const auto &known = extList.extensions;
    const auto found = std::find(known.begin(), known.end(), key);
    if (found != known.end())
        return int(found - known.begin()) + 2;

    static constexpr std::array<std::string_view, 5> kOwnIcons {".LNK", ".EXE", ".ICO", ".CUR",
                                                                ".ANI"};
    if (std::find(kOwnIcons.begin(), kOwnIcons.end(), key) != kOwnIcons.end())
        return 0;
    if (extList.missing.count(key))
        return 0;

    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(QString::fromUtf8(fileName.data(),
                                                                      qsizetype(fileName.size())),
                                                    QMimeDatabase::MatchExtension);
    QIcon icon;
    if (type.isValid() && !type.isDefault())
        icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    if (icon.isNull()) {
        extList.missing.insert(key);
        return 0;
    }
    images.add(icon);
    extList.extensions.push_back(key);
    return int(extList.extensions.size()) + 1;
}

} // namespace veltrano
