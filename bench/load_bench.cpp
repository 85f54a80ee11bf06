// Opening and memory of big clouds, each figure against a baseline run in
// the same command:
// - opening: `quarlon-cli info` of a model file as the import writes it,
//   against VTK's XML reader alone on the same file (each in a process of
//   its own, interleaved, medians); target 4 times faster;
// - memory: the viewer drawing the full level (`quarlon --screenshot`),
//   peak resident memory above the viewer showing 1,000 points, per point;
//   target at most 48 bytes. Needs a display (run under xvfb-run).
//
//   load_bench [--points N[,N...]] [--reps R] [--folder DIR] [--no-viewer]
//   load_bench --make FILE.vtp POINTS     (a cloud as the import writes it)
#include "BenchUtil.h"
#include "core/exchange/XyzImport.h"
#include "core/model/VtkErrorCatcher.h"

#include <vtkNew.h>
#include <vtkPolyData.h>
#include <vtkXMLPolyDataReader.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

// A cloud with "RGB" and "Intensity" of a site far from the origin, written
// by the import's own writer, with its offset file.
void MakeModelHere(const std::string& path, vtkIdType n)
{
    const std::string raw = path + ".raw.vtp";
    bench::MakeCloud(raw, n);
    vtkNew<vtkXMLPolyDataReader> reader;
    reader->SetFileName(raw.c_str());
    reader->Update();
    std::string why;
    if (xyz::WriteModelFile(reader->GetOutput(), path, nullptr, &why) != xyz::ConvertResult::Ok) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), why.c_str());
        std::exit(1);
    }
    std::filesystem::remove(raw);
    std::ofstream(std::filesystem::path(path).replace_extension(".vtw"))
        << "[PolyData Offset]\nX=612345.000\nY=5123456.000\nZ=100.000\n";
}

// In a child process: the memory it takes never counts in the programs
// this one starts (a child starts with its parent's resident memory).
void MakeModel(const std::string& path, vtkIdType n)
{
    bench::Measure([&] {
        MakeModelHere(path, n);
        return true;
    });
}

// A program run to its end: wall time and peak resident memory.
bench::Sample Run(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const auto t0 = std::chrono::steady_clock::now();
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", args[0].c_str());
        std::exit(1);
    }
    return {s, usage.ru_maxrss};
}

std::vector<long long> ParseList(const char* text)
{
    std::vector<long long> values;
    for (const char* p = text; *p;) {
        values.push_back(std::atoll(p));
        p = std::strchr(p, ',');
        if (!p)
            break;
        ++p;
    }
    return values;
}

} // namespace

int main(int argc, char** argv)
{
    SilenceVtkOutput();
    if (argc == 4 && std::strcmp(argv[1], "--make") == 0) {
        MakeModelHere(argv[2], std::atoll(argv[3]));
        return 0;
    }
    std::vector<long long> sizes = {5000000, 20000000};
    int reps = 3;
    std::string folder = std::filesystem::temp_directory_path().string();
    bool viewer = std::getenv("DISPLAY") != nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--points") && i + 1 < argc)
            sizes = ParseList(argv[++i]);
        else if (!std::strcmp(argv[i], "--reps") && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--folder") && i + 1 < argc)
            folder = argv[++i];
        else if (!std::strcmp(argv[i], "--no-viewer"))
            viewer = false;
    }
    const std::string bin = QUARLON_BIN_DIR;
    const std::string cli = bin + "/quarlon-cli", gui = bin + "/quarlon";
    const std::string shot = folder + "/load_bench_shot.png";

    double emptyViewerKiB = 0;
    if (viewer) {
        const std::string small = folder + "/load_bench_1000.vtp";
        MakeModel(small, 1000);
        std::vector<long> peaks;
        for (int r = 0; r < reps; ++r)
            peaks.push_back(Run({gui, "--screenshot", shot, "--size", "800x600", small}).peakKiB);
        emptyViewerKiB = static_cast<double>(bench::Median(peaks));
        std::printf("viewer showing 1,000 points: peak %.0f MiB\n", emptyViewerKiB / 1024);
        std::filesystem::remove(small);
    }
    for (long long n : sizes) {
        const std::string file = folder + "/load_bench_" + std::to_string(n) + ".vtp";
        std::printf("\n%lld points: generating %s\n", n, file.c_str());
        std::fflush(stdout);
        MakeModel(file, n);
        std::printf("file size: %.1f MB\n", static_cast<double>(std::filesystem::file_size(file)) / 1e6);
        auto bare = [&file] {
            vtkNew<vtkXMLPolyDataReader> reader;
            reader->SetFileName(file.c_str());
            reader->Update();
            return reader->GetOutput()->GetNumberOfPoints() > 0;
        };
        std::vector<double> vtkTimes, infoTimes;
        for (int r = 0; r < reps; ++r) {
            // Alternate the order so that drift hits both alike.
            bench::Sample a, b;
            if (r % 2 == 0) {
                a = bench::Measure(bare);
                b = Run({cli, "info", file});
            } else {
                b = Run({cli, "info", file});
                a = bench::Measure(bare);
            }
            vtkTimes.push_back(a.seconds);
            infoTimes.push_back(b.seconds);
            std::printf("rep %d: VTK's reader %.3f s %ld MiB | quarlon-cli info %.3f s %ld MiB\n", r + 1, a.seconds,
                        a.peakKiB / 1024, b.seconds, b.peakKiB / 1024);
            std::fflush(stdout);
        }
        const double ratio = bench::Median(vtkTimes) / bench::Median(infoTimes);
        std::printf("opening: VTK's reader %.3f s, quarlon-cli info %.3f s: %.2f times faster (target >= 4) %s\n",
                    bench::Median(vtkTimes), bench::Median(infoTimes), ratio, ratio >= 4 ? "met" : "MISSED");
        if (viewer) {
            std::vector<long> peaks;
            std::vector<double> times;
            for (int r = 0; r < reps; ++r) {
                const bench::Sample s = Run({gui, "--screenshot", shot, "--size", "800x600", file});
                peaks.push_back(s.peakKiB);
                times.push_back(s.seconds);
                std::printf("rep %d: viewer, first full picture %.2f s, peak %ld MiB\n", r + 1, s.seconds,
                            s.peakKiB / 1024);
                std::fflush(stdout);
            }
            const double perPoint = (static_cast<double>(bench::Median(peaks)) - emptyViewerKiB) * 1024.0 /
                                    static_cast<double>(n);
            std::printf("viewer: first full picture %.2f s, %.1f bytes per point above 1,000 points "
                        "(target <= 48) %s\n",
                        bench::Median(times), perPoint, perPoint <= 48 ? "met" : "MISSED");
        }
        std::filesystem::remove(file);
        std::filesystem::remove(std::filesystem::path(file).replace_extension(".vtw"));
        std::filesystem::remove(std::filesystem::path(file).replace_extension(".ini"));
    }
    std::filesystem::remove(shot);
    return 0;
}
