#include "util/resstr.h"

#include <cstring>

namespace veltrano {

std::string formatTemplate(std::string_view templ, std::string_view arg)
{
    std::string out;
    out.reserve(templ.size() + arg.size());
    bool argUsed = false;
    for (size_t i = 0; i < templ.size(); ++i) {
        if (templ[i] != '%' || i + 1 == templ.size()) {
            out += templ[i];
            continue;
        }
        const char conversion = templ[++i];
        if (conversion == '%') {
            out += '%';
        } else if (conversion == 's' && !argUsed) {
            out += arg;
            argUsed = true;
        } else {
            out += '%';
            out += conversion;
        }
    }
    return out;
}

std::string FmtResStr(int id, std::string_view arg)
{
    return formatTemplate(LoadResStr(id), arg);
}

std::string ErrorText(int code)
{
    char buffer[1024];
    // The GNU strerror_r returns the text, which may or may not live in our buffer.
    const char *text = strerror_r(code, buffer, sizeof buffer);
    return text ? std::string(text) : std::string();
}

} // namespace veltrano
