#include "core/common/ProfileFile.h"

#include "FuzzFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = FuzzFilePath(".ini");
    if (!WriteFuzzFile(path, data, size))
        return 0;
    for (const char* section : {"PolyData Offset", "Texture", "CloudData"})
        for (const char* key : {"X", "File", "Representation"}) {
            const std::string v = profile::GetString(path, section, key, "dflt", 64);
            if (v.size() > 63)
                std::abort();
        }
    // Whatever was there, a written key reads back.
    if (profile::WriteString(path, "CloudData", "Representation", "12") &&
        profile::GetString(path, "clouddata", "representation", "", 256) != "12")
        std::abort();
    std::remove(path.c_str());
    return 0;
}
