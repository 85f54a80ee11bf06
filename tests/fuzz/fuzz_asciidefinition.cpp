#include "core/exchange/AsciiDefinition.h"

#include "FuzzFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace exchange;
    static const std::string path = FuzzFilePath(".ini");
    static const std::string again = FuzzFilePath("-again.ini");
    if (!WriteFuzzFile(path, data, size))
        return 0;
    const AsciiDefinition d = ReadAsciiDefinition(path);
    // Every index within its list, every text within its capacity.
    auto inside = [](int index, int count) { return index >= 0 && index < count; };
    for (int v = 0; v < kAsciiVariables; ++v)
        if (!inside(d.formula[v], kAsciiOperators) || d.value[v].size() > 255)
            std::abort();
    if (!inside(d.separator, kAsciiSeparators) || !inside(d.doubleFormat, kAsciiDoubleFormats) ||
        !inside(d.colorFormat, kAsciiColorFormats))
        std::abort();
    for (int c : d.composition)
        if (!inside(c, kAsciiItems))
            std::abort();
    // Only blank columns are ever left out.
    bool pruned[kAsciiColumns];
    PruneColumns(d.composition, pruned);
    for (int c = 0; c < kAsciiColumns; ++c)
        if (pruned[c] && d.composition[c] != kItemBlank)
            std::abort();
    // What is stored reads back as the same choices.
    if (WriteAsciiDefinition(again, d)) {
        const AsciiDefinition back = ReadAsciiDefinition(again);
        for (int v = 0; v < kAsciiVariables; ++v)
            if (back.formula[v] != d.formula[v])
                std::abort();
        for (int c = 0; c < kAsciiColumns; ++c)
            if (back.composition[c] != d.composition[c])
                std::abort();
        if (back.separator != d.separator || back.doubleFormat != d.doubleFormat || back.colorFormat != d.colorFormat)
            std::abort();
    }
    std::remove(path.c_str());
    std::remove(again.c_str());
    return 0;
}
