#pragma once
// Fuzz inputs go through a file of this process's own, as the readers take paths.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

inline bool WriteFuzzFile(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    return true;
}

inline std::string FuzzFilePath(const char* extension)
{
    return "/tmp/quarlon-fuzz-" + std::to_string(getpid()) + extension;
}
