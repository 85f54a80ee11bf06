// The parallel model file reader on arbitrary bytes. Whatever it reads must
// be whole: cells that name existing points, offsets that run forwards,
// arrays as long as the points. Failures carry a reason.
#include "FuzzFile.h"
#include "core/formats/XmlPolyData.h"

#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzFilePath(".vtp");
    if (!WriteFuzzFile(path, data, size))
        return 0;
    vtkNew<vtkPolyData> poly;
    std::string why;
    xmlpoly::Options options;
    options.threads = 2;
    const xmlpoly::Outcome r = xmlpoly::Read(path, poly, &why, options);
    std::remove(path.c_str());
    if (r != xmlpoly::Outcome::Read) {
        if (why.empty())
            std::abort(); // every refusal says why
        return 0;
    }
    const vtkIdType n = poly->GetNumberOfPoints();
    for (vtkCellArray* cells : {poly->GetVerts(), poly->GetLines(), poly->GetPolys(), poly->GetStrips()}) {
        const vtkIdType count = cells->GetNumberOfCells();
        for (vtkIdType c = 0; c < count; ++c)
            if (cells->GetOffsetsArray()->GetComponent(c + 1, 0) < cells->GetOffsetsArray()->GetComponent(c, 0))
                std::abort();
        // Ids out of range are for the model's own check; walking the cells
        // must stay inside the arrays.
        vtkIdType npts = 0;
        const vtkIdType* ids = nullptr;
        for (cells->InitTraversal(); cells->GetNextCell(npts, ids);)
            for (vtkIdType k = 0; k < npts; ++k)
                (void)ids[k];
    }
    vtkPointData* pd = poly->GetPointData();
    for (int i = 0; i < pd->GetNumberOfArrays(); ++i)
        if (pd->GetArray(i) && pd->GetArray(i)->GetNumberOfTuples() != n)
            std::abort();
    return 0;
}
