#include "util/sysinfo.h"

#include <utility>

namespace veltrano {
namespace {

ReleaseNameSource &installedSource()
{
    static ReleaseNameSource source;
    return source;
}

} // namespace

void setReleaseNameSource(ReleaseNameSource source)
{
    installedSource() = std::move(source);
}

uint8_t osTypeOfName(std::string_view productName)
{
    static constexpr std::string_view kNames[] = {
            "Microsoft Windows 95",
            "Microsoft Windows 98",
            "Microsoft Windows NT",
            "Microsoft Windows 2000",
            "Microsoft Windows Millennium",
    };
    for (uint8_t i = 0; i < 5; ++i)
        if (productName == kNames[i])
            return uint8_t(i + 1);
    return 0;
}

void GetOSType(uint8_t &code)
{
    const ReleaseNameSource &source = installedSource();
    const std::optional<std::string> name = source ? source() : std::nullopt;
    code = name ? osTypeOfName(*name) : 0;
}

} // namespace veltrano
