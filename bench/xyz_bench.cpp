// XYZ import benchmark: on one generated file "X Y Z R G B I" with
// georeferenced coordinates, the plain way (fgets + sscanf, then VTK's
// translation filter and XML writer with their defaults) against ours, for
// parsing alone and for the whole conversion. Ratios of medians taken in
// the same run; peak memory of each conversion from its own process.
//
//   xyz_bench [LINES=2000000] [REPETITIONS=3] [FOLDER]
#include "BenchUtil.h"
#include "XyzReference.h"
#include "core/exchange/XyzImport.h"
#include "core/formats/XyzReader.h"
#include "core/common/VtkErrorCatcher.h"

#include <cstdio>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void MakeFile(const std::string& path, long lines)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    uint32_t seed = 7;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (long i = 0; i < lines; ++i)
        std::fprintf(f, "%.3f %.3f %.3f %u %u %u %u\n", 500000.0 + (next() % 1000000) * 0.001,
                     4500000.0 + (next() % 1000000) * 0.001, 100.0 + (next() % 50000) * 0.001, next() % 256,
                     next() % 256, next() % 256, next() % 2048);
    std::fclose(f);
}

} // namespace

int main(int argc, char** argv)
{
    SilenceVtkOutput();
    const long lines = argc > 1 ? std::atol(argv[1]) : 2000000;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::string folder = argc > 3 ? argv[3] : std::filesystem::temp_directory_path().string();
    const std::string source = folder + "/quarlon_xyz_bench.txt";
    const std::string plainOut = folder + "/quarlon_xyz_bench_plain.vtp";
    const std::string fastOut = folder + "/quarlon_xyz_bench_fast.vtp";
    MakeFile(source, lines);
    const double mb = std::filesystem::file_size(source) / 1e6;
    std::printf("%ld lines, %.1f MB\n", lines, mb);

    using bench::Measure;
    using bench::Median;
    // CloudCompare's import and save of the same file, when it is installed.
    const bool cloudCompare = std::system("command -v CloudCompare >/dev/null 2>&1 && command -v xvfb-run >/dev/null 2>&1") == 0;
    const std::string ccCommand = "cd '" + folder + "' && xvfb-run -a CloudCompare -SILENT -O '" + source +
                                  "' -C_EXPORT_FMT BIN -SAVE_CLOUDS >/dev/null 2>&1";
    std::vector<double> peer;
    std::vector<double> parsePlain, parseFast, convertPlain, convertFast;
    std::vector<long> memPlain, memFast;
    for (int r = 0; r < reps; ++r) {
        parsePlain.push_back(Measure([&] {
            ReferenceCloud c;
            return ReferenceRead(source, c) && !c.points.empty();
        }).seconds);
        parseFast.push_back(Measure([&] {
            xyz::Cloud c;
            return xyz::ReadCloud(source, c, nullptr) == xyz::ReadResult::Ok && c.Count() > 0;
        }).seconds);
        // Each conversion starts from a clean disk: no earlier output still
        // being written back, no old output to truncate.
        auto settle = [](const std::string& output) {
            std::error_code ec;
            std::filesystem::remove(output, ec);
            ::sync();
        };
        settle(plainOut);
        const bench::Sample plain = Measure([&] { return ReferenceConvert(source, plainOut); });
        settle(fastOut);
        const bench::Sample fast = Measure([&] {
            return xyz::ConvertXyzFile(source, fastOut, nullptr) == xyz::ConvertResult::Ok;
        });
        convertPlain.push_back(plain.seconds);
        convertFast.push_back(fast.seconds);
        if (cloudCompare) {
            ::sync();
            peer.push_back(Measure([&] { return std::system(ccCommand.c_str()) == 0; }).seconds);
            std::printf("rep %d: CloudCompare import + save %.3f s\n", r + 1, peer.back());
            for (const auto& e : std::filesystem::directory_iterator(folder))
                if (e.path().filename().string().rfind("quarlon_xyz_bench_20", 0) == 0 && e.path().extension() == ".bin")
                    std::filesystem::remove(e.path());
        }
        memPlain.push_back(plain.peakKiB);
        memFast.push_back(fast.peakKiB);
        std::printf("rep %d: parse plain %.3f s, fast %.3f s | convert plain %.3f s (%ld MiB), fast %.3f s (%ld MiB)\n",
                    r + 1, parsePlain.back(), parseFast.back(), plain.seconds, plain.peakKiB / 1024, fast.seconds,
                    fast.peakKiB / 1024);
    }
    const double parseRatio = Median(parsePlain) / Median(parseFast);
    const double convertRatio = Median(convertPlain) / Median(convertFast);
    std::printf("parse: plain %.0f MB/s, fast %.0f MB/s, ratio %.2f (target >= 4) %s\n", mb / Median(parsePlain),
                mb / Median(parseFast), parseRatio, parseRatio >= 4 ? "ok" : "MISSED");
    std::printf("convert: plain %.3f s, fast %.3f s, ratio %.2f (target >= 8) %s\n", Median(convertPlain),
                Median(convertFast), convertRatio, convertRatio >= 8 ? "ok" : "MISSED");
    if (!peer.empty())
        std::printf("CloudCompare: %.3f s, ratio to ours %.2f (target >= 5) %s\n", Median(peer),
                    Median(peer) / Median(convertFast), Median(peer) / Median(convertFast) >= 5 ? "ok" : "MISSED");
    else
        std::printf("CloudCompare is not installed: no peer ratio\n");
    std::printf("peak memory: plain %ld MiB, fast %ld MiB; output sizes: plain %.1f MB, fast %.1f MB\n",
                Median(memPlain) / 1024, Median(memFast) / 1024, std::filesystem::file_size(plainOut) / 1e6,
                std::filesystem::file_size(fastOut) / 1e6);
    for (const std::string& f : {source, plainOut, fastOut, folder + "/quarlon_xyz_bench_plain.vtw",
                                  folder + "/quarlon_xyz_bench_fast.vtw"})
        std::filesystem::remove(f);
    return 0;
}
