#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// The Windows release the program runs on, as the one-byte code that the suite's shared
// settings record carries for the other programs of the suite:
//   1 "Microsoft Windows 95", 2 "Microsoft Windows 98", 3 "Microsoft Windows NT",
//   4 "Microsoft Windows 2000", 5 "Microsoft Windows Millennium", 0 anything else or no name.
// There is no registry here, so the release name comes from a replaceable source; the default
// source names no release, which gives 0.

// Gives the release's product name, or nullopt when there is none.
using ReleaseNameSource = std::function<std::optional<std::string>()>;

// Installs the source that GetOSType asks (an empty function restores the default). Not
// thread-safe: set it at start-up or in a test, before any caller asks.
void setReleaseNameSource(ReleaseNameSource source);

// The code of a product name: an exact, case-sensitive match with one of the five names.
uint8_t osTypeOfName(std::string_view productName);

// Stores the code of the installed source's release name in `code`.
void GetOSType(uint8_t &code);

} // namespace veltrano
