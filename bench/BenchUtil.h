#pragma once
// Measuring helpers shared by the benchmarks: each measurement runs in a
// child process, so its peak memory comes from the kernel, and the parent
// keeps medians.
#include <vtkCellArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkTypeInt32Array.h>
#include <vtkUnsignedCharArray.h>
#include <vtkXMLPolyDataWriter.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace bench {

struct Sample {
    double seconds;
    long peakKiB;
};

inline Sample Measure(const std::function<bool()>& work)
{
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(1);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = work();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (write(fds[1], &s, sizeof s) != sizeof s)
            _exit(3);
        _exit(ok ? 0 : 2);
    }
    close(fds[1]);
    double s = -1;
    if (read(fds[0], &s, sizeof s) != sizeof s)
        s = -1;
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || s < 0) {
        std::fprintf(stderr, "measurement failed\n");
        std::exit(1);
    }
    return {s, usage.ru_maxrss};
}

// A measurement of `a` and one of `b`, the order alternating with `rep` so
// that drift (and the second run's warmer caches) hits both alike.
inline std::pair<Sample, Sample> MeasurePair(int rep, const std::function<bool()>& a, const std::function<bool()>& b)
{
    if (rep % 2 == 0) {
        const Sample first = Measure(a);
        return {first, Measure(b)};
    }
    const Sample second = Measure(b);
    return {Measure(a), second};
}

template <class T>
T Median(std::vector<T> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A random cloud of `n` points with "RGB" and "Intensity" (and "Texture"
// when asked), one vertex cell per point with 32-bit ids, as the import
// makes them.
inline vtkSmartPointer<vtkPolyData> RandomCloud(vtkIdType n, bool texture = false)
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
    vtkNew<vtkFloatArray> tcoords;
    tcoords->SetName("Texture");
    tcoords->SetNumberOfComponents(2);
    tcoords->SetNumberOfTuples(texture ? n : 0);
    vtkNew<vtkTypeInt32Array> offsets, ids;
    offsets->SetNumberOfTuples(n + 1);
    ids->SetNumberOfTuples(n);
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (vtkIdType i = 0; i < n; ++i) {
        points->SetPoint(i, (next() % 100000) * 0.001, (next() % 100000) * 0.001, (next() % 20000) * 0.001);
        const unsigned char c[3] = {static_cast<unsigned char>(next()), static_cast<unsigned char>(next()),
                                    static_cast<unsigned char>(next())};
        rgb->SetTypedTuple(i, c);
        intensity->SetValue(i, static_cast<float>(next() % 4096));
        if (texture)
            tcoords->SetTuple2(i, (next() % 1000) / 999.0, (next() % 1000) / 999.0);
        offsets->SetValue(i, static_cast<int32_t>(i));
        ids->SetValue(i, static_cast<int32_t>(i));
    }
    offsets->SetValue(n, static_cast<int32_t>(n));
    vtkNew<vtkCellArray> verts;
    verts->SetData(offsets, ids);
    auto poly = vtkSmartPointer<vtkPolyData>::New();
    poly->SetPoints(points);
    poly->SetVerts(verts);
    poly->GetPointData()->AddArray(rgb);
    poly->GetPointData()->AddArray(intensity);
    if (texture)
        poly->GetPointData()->AddArray(tcoords);
    return poly;
}

// RandomCloud written as appended raw XML.
inline void MakeCloud(const std::string& path, vtkIdType n, bool texture = false)
{
    vtkNew<vtkXMLPolyDataWriter> writer;
    writer->SetInputData(RandomCloud(n, texture));
    writer->SetFileName(path.c_str());
    writer->SetDataModeToAppended();
    writer->EncodeAppendedDataOff();
    if (!writer->Write()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

} // namespace bench
