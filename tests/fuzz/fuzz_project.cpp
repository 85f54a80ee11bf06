#include "model/ProjectFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = "/tmp/quarlon-fuzz-project-" + std::to_string(getpid()) + ".mvtp";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
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
