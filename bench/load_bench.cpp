// Load benchmark: the viewer's full model load (reader, reduced level,
// mappers, colouring, actor) against a bare XML read of the same file.
// Each measurement runs in its own child process so that its peak memory
// can be read from the kernel; the figures are ratios of medians taken in
// the same run, so they hold on a busy machine.
//
//   load_bench [POINTS] [REPETITIONS] [FOLDER]
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"
#include "core/model/VtkErrorCatcher.h"
#include "BenchUtil.h"

#include <vtkCellArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkUnsignedCharArray.h>
#include <vtkXMLPolyDataReader.h>
#include <vtkXMLPolyDataWriter.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void MakeCloud(const std::string& path, vtkIdType n)
{
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    points->SetNumberOfPoints(n);
    vtkNew<vtkUnsignedCharArray> rgb;
    rgb->SetName("RGB");
    rgb->SetNumberOfComponents(3);
    rgb->SetNumberOfTuples(n);
    vtkNew<vtkFloatArray> intensity;
    intensity->SetName("Intensity");
    intensity->SetNumberOfTuples(n);
    vtkNew<vtkCellArray> verts;
    verts->AllocateExact(n, n);
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (vtkIdType i = 0; i < n; ++i) {
        points->SetPoint(i, (next() % 100000) * 0.001, (next() % 100000) * 0.001, (next() % 20000) * 0.001);
        const unsigned char c[3] = {static_cast<unsigned char>(next()), static_cast<unsigned char>(next()),
                                    static_cast<unsigned char>(next())};
        rgb->SetTypedTuple(i, c);
        intensity->SetValue(i, static_cast<float>(next() % 4096));
        verts->InsertNextCell(1, &i);
    }
    vtkNew<vtkPolyData> poly;
    poly->SetPoints(points);
    poly->SetVerts(verts);
    poly->GetPointData()->AddArray(rgb);
    poly->GetPointData()->AddArray(intensity);
    vtkNew<vtkXMLPolyDataWriter> writer;
    writer->SetInputData(poly);
    writer->SetFileName(path.c_str());
    writer->SetDataModeToAppended();
    writer->EncodeAppendedDataOff();
    if (!writer->Write()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    SilenceVtkOutput();
    const vtkIdType n = argc > 1 ? std::atoll(argv[1]) : 5000000;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string folder = argc > 3 ? argv[3] : std::filesystem::temp_directory_path().string();
    const std::string file = folder + "/quarlon_load_bench.vtp";

    std::printf("generating %lld points into %s\n", static_cast<long long>(n), file.c_str());
    MakeCloud(file, n);
    std::printf("file size: %.1f MB\n", std::filesystem::file_size(file) / 1e6);

    auto bare = [&file] {
        vtkNew<vtkXMLPolyDataReader> reader;
        reader->SetFileName(file.c_str());
        reader->Update();
        return reader->GetOutput()->GetNumberOfPoints() > 0;
    };
    auto full = [&file] {
        CRendererView view;
        CQuarlonDoc doc;
        doc.SetView(&view);
        doc.SetSettingsReadOnly(true);
        return doc.OnOpenDocument(file);
    };

    using bench::Measure;
    using bench::Median;
    using bench::Sample;
    std::vector<double> bareTime, fullTime;
    std::vector<long> bareMem, fullMem;
    for (int r = 0; r < reps; ++r) {
        // Alternate the order so that drift hits both alike.
        Sample a, b;
        if (r % 2 == 0) {
            a = Measure(bare);
            b = Measure(full);
        } else {
            b = Measure(full);
            a = Measure(bare);
        }
        bareTime.push_back(a.seconds);
        bareMem.push_back(a.peakKiB);
        fullTime.push_back(b.seconds);
        fullMem.push_back(b.peakKiB);
        std::printf("rep %d: bare read %.3f s %ld MiB | full load %.3f s %ld MiB\n", r + 1, a.seconds,
                    a.peakKiB / 1024, b.seconds, b.peakKiB / 1024);
    }
    const double timeRatio = Median(fullTime) / Median(bareTime);
    const double memRatio = static_cast<double>(Median(fullMem)) / static_cast<double>(Median(bareMem));
    std::printf("median bare read: %.3f s, peak %ld MiB\n", Median(bareTime), Median(bareMem) / 1024);
    std::printf("median full load: %.3f s, peak %ld MiB\n", Median(fullTime), Median(fullMem) / 1024);
    std::printf("time ratio full/bare: %.3f (target <= 1.25) %s\n", timeRatio, timeRatio <= 1.25 ? "ok" : "MISSED");
    std::printf("memory ratio full/bare: %.3f (target <= 1.5) %s\n", memRatio, memRatio <= 1.5 ? "ok" : "MISSED");
    std::filesystem::remove(file);
    return 0;
}
