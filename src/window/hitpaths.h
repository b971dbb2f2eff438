#pragma once

#include <vector>

#include <QString>

namespace veltrano {

class TEnhListModel;
class TShareMapping;

// How a copied path is written.
enum class HitPathForm {
    Unc, // as the list shows it: \\PC\share\folder\name
    Reachable // what opens it here: the local path of a mapped share, else its smb:// URL
};

// The paths of the result rows `rows`, one a line, in the given order. A path that leads
// nowhere here (a drive letter of the collecting machine) is given as the list shows it.
QString hitPathsText(const TEnhListModel &model, const std::vector<int> &rows, HitPathForm form,
        const TShareMapping &shares);

} // namespace veltrano
