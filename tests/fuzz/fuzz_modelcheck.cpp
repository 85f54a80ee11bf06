// The structure checks run on any bytes before a reader does: they must
// never crash, read out of bounds or hang, whatever the file holds.
#include "core/model/ModelFileCheck.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy, so that any read past the end is caught.
    const std::vector<char> bytes(data, data + size);
    const char* p = bytes.empty() ? "" : bytes.data();
    modelcheck::CheckXml(p, size);
    modelcheck::CheckLegacy(p, size);
    return 0;
}
