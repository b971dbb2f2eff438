#pragma once

#include <memory>
#include <string_view>

#include <QSettings>

namespace veltrano {

// The per-user store that stands in for the registry: a key path such as
// "\Software\Calderwick\Drellmoor\Veltrano\ListView" opens the INI store of organisation
// "Calderwick" and application "Drellmoor" (under $XDG_CONFIG_HOME) with the group
// "Veltrano/ListView" begun. A leading "\Software" is optional.
std::unique_ptr<QSettings> openUserStore(std::string_view registryKey);

} // namespace veltrano
