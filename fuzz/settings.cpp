// The program's settings file (Veltrano.inf) and the suite's common record (COMMON.INI), read
// from the input as a file. A record read and written back must read back the same.

#include <cstdint>

#include "fuzzsupport.h"
#include "store/commoninfo.h"
#include "store/setupinfo.h"

using namespace veltrano;
using namespace veltrano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes = asText(data, size);
    Scratch &scratch = Scratch::instance();
    scratch.reset();
    scratch.write(kSetupInfoName, bytes);
    scratch.write(kCommonInfoName, bytes);

    SetupEnvironment environment{bigFive(), "/opt/veltrano/", "/home/user/Downloads/"};
    TSetupInfo settings;
    LoadSetupInfo(scratch.folder() + kSetupInfoName, settings, environment);
    const auto written = encodeSetupInfo(settings, bigFive());
    TSetupInfo again;
    decodeSetupInfo(
            {reinterpret_cast<const char *>(written.data()), written.size()}, again, bigFive());
    require(encodeSetupInfo(again, bigFive()) == written, "settings read back as written");

    TCommonInfo common;
    LoadCommonInfo(common, 0, scratch.folder() + kCommonInfoName);
    const auto commonBytes = encodeCommonInfo(common);
    TCommonInfo commonAgain;
    decodeCommonInfo(
            {reinterpret_cast<const char *>(commonBytes.data()), commonBytes.size()}, commonAgain);
    require(commonAgain == common, "the common record reads back as written");
    return 0;
}
