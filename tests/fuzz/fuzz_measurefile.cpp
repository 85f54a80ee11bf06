// Measure files as a user's editor may leave them: reading never crashes,
// every measure read either parses into points or is refused whole, and
// what is written reads back the same.
#include "core/measure/MeasureFile.h"

#include "FuzzFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = FuzzFilePath(".msr");
    if (!WriteFuzzFile(path, data, size))
        return 0;
    measure::MeasureMap measures;
    if (!measure::ReadMeasureFile(path, measures))
        std::abort();
    for (const auto& [name, text] : measures) {
        std::vector<measure::MeasurePointsData> points;
        if (measure::ParseMeasure(text, points) && static_cast<int>(points.size()) != measure::PointCount(text))
            std::abort();
    }
    // Names that would break the line structure are not written back.
    bool writable = true;
    for (const auto& [name, text] : measures)
        writable = writable && name.find_first_of("\r\n") == std::string::npos && text.find('\r') == std::string::npos;
    if (writable && !measures.empty()) {
        if (!measure::WriteMeasureFile(path, measures))
            std::abort();
        measure::MeasureMap back;
        if (!measure::ReadMeasureFile(path, back) || back != measures)
            std::abort();
    }
    std::remove(path.c_str());
    return 0;
}
