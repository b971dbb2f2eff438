#pragma once

#include <stdexcept>
#include <string>

namespace veltrano {

// The one exception class of the program. Code below the windows raises it with a complete,
// user-presentable message (UTF-8): a string-table text, a formatted one, or a system error
// text. The window-level handler or the command line's main catches it and shows the message.
class Error : public std::runtime_error
{
public:
    explicit Error(const std::string &message)
        : std::runtime_error(message)
    {
    }
};

} // namespace veltrano
