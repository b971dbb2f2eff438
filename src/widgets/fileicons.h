#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "widgets/images.h"

namespace veltrano {

// The upper-case extensions (dot included) whose icons the small image list holds; the
// extension at position p has image p + 2 (0 and 1 are the plain file and the folder).
// Shared by every list that shows file rows; grows with the image list and is never trimmed.
struct TExtList
{
    std::vector<std::string> extensions;
    // Extensions for which the MIME database had no icon. The answer cannot change while the
    // program runs, so they are not looked up again for every file of that type.
    std::set<std::string, std::less<>> missing;
};

// The image index of the type icon of `fileName` (UTF-8): 0 without an extension, for the
// types that carry their own icons (.LNK .EXE .ICO .CUR .ANI) and when no icon is known;
// otherwise the icon of the type's MIME entry, added to `images` on first use.
int FileIconIndex(std::string_view fileName, TImageList &images, TExtList &extList);

// The extension of a name: from its last dot on, dot included, as written; empty when the
// name has none.
std::string_view dottedExtension(std::string_view name);

} // namespace veltrano
