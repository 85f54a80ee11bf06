// The E57 and PTX readers on arbitrary bytes. For E57 the input is the
// logical stream: the harness cuts it into pages and seals each with its
// checksum, so that mutations reach the XML and the packets instead of
// stopping at the first page check. The first byte picks the format. A
// scan that reads must be whole: points, finite offset, arrays as long as
// the points; every failure says why.
#include "FuzzFile.h"
#include "core/formats/E57Reader.h"
#include "core/formats/ForeignModel.h"

#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool ptx = data[0] & 1;
    std::string bytes;
    if (ptx) {
        bytes.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    } else {
        const size_t logical = size - 1;
        const size_t pages = (logical + 1019) / 1020;
        for (size_t p = 0; p < pages; ++p) {
            std::string page(reinterpret_cast<const char*>(data + 1 + p * 1020), std::min<size_t>(1020, logical - p * 1020));
            page.resize(1020, '\0');
            const uint32_t crc = e57::Crc32c(page.data(), page.size());
            for (int i = 0; i < 4; ++i)
                page += static_cast<char>(crc >> (24 - 8 * i));
            bytes += page;
        }
    }
    const std::string path = FuzzFilePath(ptx ? ".ptx" : ".e57");
    if (!WriteFuzzFile(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()))
        return 0;
    std::vector<foreign::ScanEntry> scans;
    std::string why;
    if (foreign::ListScans(path, scans, &why) != foreign::Result::Ok) {
        std::remove(path.c_str());
        if (why.empty())
            std::abort();
        return 0;
    }
    for (size_t s = 0; s < scans.size() && s < 4; ++s) {
        foreign::Model model;
        why.clear();
        const foreign::Result r = foreign::ReadScan(path, s, model, nullptr, &why);
        if (r != foreign::Result::Ok) {
            if (model.data || why.empty())
                std::abort();
            continue;
        }
        vtkPolyData* poly = model.data;
        if (!poly || poly->GetNumberOfPoints() <= 0)
            std::abort();
        for (double o : model.offset)
            if (!std::isfinite(o))
                std::abort();
        vtkPointData* pd = poly->GetPointData();
        for (int i = 0; i < pd->GetNumberOfArrays(); ++i)
            if (pd->GetArray(i)->GetNumberOfTuples() != poly->GetNumberOfPoints())
                std::abort();
    }
    std::remove(path.c_str());
    return 0;
}
