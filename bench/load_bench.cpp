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

#include <vtkNew.h>
#include <vtkPolyData.h>
#include <vtkXMLPolyDataReader.h>

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

int main(int argc, char** argv)
{
    SilenceVtkOutput();
    const vtkIdType n = argc > 1 ? std::atoll(argv[1]) : 5000000;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string folder = argc > 3 ? argv[3] : std::filesystem::temp_directory_path().string();
    const std::string file = folder + "/quarlon_load_bench.vtp";

    std::printf("generating %lld points into %s\n", static_cast<long long>(n), file.c_str());
    bench::MakeCloud(file, n);
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
