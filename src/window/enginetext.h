#pragma once

#include <string_view>

#include <QString>

namespace veltrano {

// The window's rendering of a text the engine keeps in Chinese: condition words, the history's
// column captions and messages, the queue's row states, the first search location. The engine
// holds them as they are because history files and the search server read them back; only what
// the window shows follows the user's language. A text without a translation shows as it is.
QString engineText(std::string_view text);

} // namespace veltrano
