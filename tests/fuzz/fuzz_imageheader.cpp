// Image headers as files: reading one never crashes, and an image that
// passes the check has a size within the limits.
#include "core/common/ImageHeader.h"

#include "FuzzFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = FuzzFilePath(".img");
    if (!WriteFuzzFile(path, data, size))
        return 0;
    image::Header h;
    if (image::CheckDecodable(path).empty()) {
        if (!image::ReadHeader(path, h) || h.width <= 0 || h.height <= 0 || h.width > image::kMaxSide ||
            h.height > image::kMaxSide || h.DecodedBytes() > image::kMaxDecodedBytes)
            std::abort();
    }
    std::remove(path.c_str());
    return 0;
}
