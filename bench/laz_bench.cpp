// Opening big LAZ files against their LAS twins and against the independent
// WebAssembly decoder: a format 3 file (point-wise compressor) and a format 8
// file (layered compressor), made by ../shared/tools/lazrepeat.py from the
// shared samples, each open in a process of its own, medians.
//
//   laz_bench [--points 10000000] [--reps 5] [--folder DIR] [--npm DIR]
//
// --npm names a folder where `npm install laz-perf@0.0.7` ran: the format 8
// sample's LAS twin is made with it (../shared/tools/laz2las.js) and its
// decoding time is measured beside ours. Without it the format 8 file is
// skipped unless FOLDER already holds several.las (its decoded copy).
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/common/VtkErrorCatcher.h"
#include "BenchUtil.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kShared = std::string(QUARLON_SOURCE_DIR) + "/../shared";

bool Run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

double Seconds(const std::string& command)
{
    const auto t0 = std::chrono::steady_clock::now();
    if (!Run(command))
        return -1.0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string Q(const std::string& s) { return "'" + s + "'"; }

struct Case {
    const char* name;
    std::string laz, las; // the sample and its twin
};

} // namespace

int main(int argc, char** argv)
{
    SilenceVtkOutput();
    long long n = 10000000;
    int reps = 5;
    std::string folder = std::filesystem::temp_directory_path().string(), npm;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--points" && i + 1 < argc)
            n = std::atoll(argv[++i]);
        else if (a == "--reps" && i + 1 < argc)
            reps = std::atoi(argv[++i]);
        else if (a == "--folder" && i + 1 < argc)
            folder = argv[++i];
        else if (a == "--npm" && i + 1 < argc)
            npm = argv[++i];
        else {
            std::fprintf(stderr, "usage: laz_bench [--points N] [--reps R] [--folder DIR] [--npm DIR]\n");
            return 2;
        }
    }
    const std::string data = kShared + "/data/laz/";
    const std::string several = folder + "/several.las";
    if (!npm.empty() && !std::filesystem::exists(several)) {
        Run("cp " + Q(kShared + "/tools/laz2las.js") + " " + Q(npm) + "/");
        if (!Run("cd " + Q(npm) + " && node laz2las.js " + Q(data + "las_with_several_extra_byte_bloc.laz") + " " +
                 Q(several) + " >/dev/null"))
            std::fprintf(stderr, "cannot decode the format 8 sample with laz-perf\n");
    }
    std::vector<Case> cases = {{"format 3, point-wise compressor", data + "point-color-time.las.laz", data + "point-color-time.las"}};
    if (std::filesystem::exists(several))
        cases.push_back({"format 8, layered compressor", data + "las_with_several_extra_byte_bloc.laz", several});
    else
        std::printf("format 8 skipped: give --npm DIR (laz-perf installed there) to make its LAS twin\n");

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    auto open = [](const std::string& file) {
        return [file] {
            CRendererView view;
            CQuarlonDoc doc;
            doc.SetView(&view);
            doc.SetSettingsReadOnly(true);
            return doc.OnOpenDocument(file);
        };
    };
    for (const Case& c : cases) {
        const std::string laz = folder + "/laz_bench.laz", las = folder + "/laz_bench.las";
        if (!Run("python3 " + Q(kShared + "/tools/lazrepeat.py") + " " + Q(c.laz) + " " + Q(c.las) + " " +
                 std::to_string(n) + " " + Q(laz) + " " + Q(las) + " >/dev/null")) {
            std::fprintf(stderr, "lazrepeat.py failed for %s\n", c.name);
            return 1;
        }
        std::printf("\n%s: about %lld points, LAZ %.1f MB, LAS %.1f MB\n", c.name, n,
                    std::filesystem::file_size(laz) / 1e6, std::filesystem::file_size(las) / 1e6);
        std::vector<double> lazTimes, lasTimes;
        std::vector<long> lazMem;
        for (int r = 0; r < reps; ++r) {
            const auto [a, b] = bench::MeasurePair(r, open(laz), open(las));
            lazTimes.push_back(a.seconds);
            lasTimes.push_back(b.seconds);
            lazMem.push_back(a.peakKiB);
            std::printf("rep %d: LAZ %.3f s %ld MiB | LAS %.3f s %ld MiB\n", r + 1, a.seconds, a.peakKiB / 1024,
                        b.seconds, b.peakKiB / 1024);
        }
        const double tz = bench::Median(lazTimes), tl = bench::Median(lasTimes);
        const double rate = n / tz / 1e6;
        std::printf("open LAZ %.3f s: %.2f million points/s (%.2f per core on %u), LAS %.3f s: LAZ/LAS %.2f\n", tz, rate,
                    rate / cores, cores, tl, tz / tl);
        if (!npm.empty()) {
            const double w = Seconds("cd " + Q(npm) + " && node laz2las.js " + Q(laz) + " " + Q(folder + "/wasm.las") +
                                     " >/dev/null");
            std::filesystem::remove(folder + "/wasm.las");
            if (w > 0)
                std::printf("independent WebAssembly decoder (laz-perf, one thread, to LAS): %.2f s, %.2f million "
                            "points/s: ours %.1f times its rate\n",
                            w, n / w / 1e6, w / tz);
        }
        std::filesystem::remove(laz);
        std::filesystem::remove(las);
    }
    return 0;
}
