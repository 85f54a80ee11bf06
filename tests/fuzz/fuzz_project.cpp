#include "core/model/ProjectFile.h"

#include "FuzzFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = FuzzFilePath(".mvtp");
    if (!WriteFuzzFile(path, data, size))
        return 0;
    std::vector<std::string> entries;
    if (ReadProjectEntries(path, entries)) {
        for (const std::string& e : entries)
            if (e.empty() || e.size() > 4095 || e.back() == '\n' || e.back() == '\r')
                std::abort();
        if (entries.size() > size)
            std::abort();
    }
    std::remove(path.c_str());
    return 0;
}
