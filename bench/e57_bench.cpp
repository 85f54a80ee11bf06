// Opening an E57 file of several scans against opening the same points
// from LAS: the viewer's whole load (reader, levels, mappers, colouring)
// of every scan, each way in its own child process, medians.
//
//   e57_bench [--points 10000000] [--scans 4] [--reps 9] [--folder DIR] [--keep]
//   e57_bench --make FILE.e57 POINTS [SCANS]     (a site to try by hand)
//
// The E57 file holds scaled-integer millimetre coordinates relative to each
// scan's station (its pose a translation), 11-bit intensity and 8-bit
// colour; the LAS file (format 2) the same points in the site's frame.
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/common/VtkErrorCatcher.h"
#include "BenchUtil.h"
#include "E57Writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

struct Site {
    std::vector<e57write::ScanData> scans;
    size_t points = 0;
};

// A site 200 m across near (512000, 5400000, 300), its points in
// millimetres, split among `count` stations.
Site MakeSite(size_t n, int count)
{
    Site site;
    site.points = n;
    std::mt19937 random(7);
    for (int s = 0; s < count; ++s) {
        e57write::ScanData d;
        d.name = "Station " + std::to_string(s + 1);
        d.guid = "{bench-station-" + std::to_string(s + 1) + "}";
        d.scale = 0.001;
        d.translation[0] = 512000.0 + 40.0 * s;
        d.translation[1] = 5400000.0 - 25.0 * s;
        d.translation[2] = 300.0 + s;
        const size_t m = n / count + (static_cast<size_t>(s) < n % count ? 1 : 0);
        d.coordinates.resize(3 * m);
        d.intensity.resize(m);
        d.rgb.resize(3 * m);
        for (size_t i = 0; i < m; ++i) {
            d.coordinates[3 * i] = 0.001 * (static_cast<int>(random() % 200000) - 100000);
            d.coordinates[3 * i + 1] = 0.001 * (static_cast<int>(random() % 200000) - 100000);
            d.coordinates[3 * i + 2] = 0.001 * static_cast<int>(random() % 30000);
            d.intensity[i] = static_cast<uint16_t>(random() % 2048);
            for (int c = 0; c < 3; ++c)
                d.rgb[3 * i + c] = static_cast<uint8_t>(random());
        }
        site.scans.push_back(std::move(d));
    }
    return site;
}

template <class T>
void Put(std::vector<char>& b, size_t at, T v)
{
    std::memcpy(&b[at], &v, sizeof v);
}

// The same points as LAS 1.2 point format 2, in millimetres of the site.
bool WriteLas(const std::string& path, const Site& site)
{
    std::vector<char> h(227, 0);
    std::memcpy(h.data(), "LASF", 4);
    h[24] = 1;
    h[25] = 2;
    Put<uint16_t>(h, 94, 227);
    Put<uint32_t>(h, 96, 227);
    h[104] = 2;
    Put<uint16_t>(h, 105, 26);
    Put<uint32_t>(h, 107, static_cast<uint32_t>(site.points));
    const double origin[3] = {512000.0, 5400000.0, 300.0};
    for (int k = 0; k < 3; ++k) {
        Put<double>(h, 131 + 8 * k, 0.001);
        Put<double>(h, 155 + 8 * k, origin[k]);
    }
    std::ofstream out(path, std::ios::binary);
    out.write(h.data(), static_cast<std::streamsize>(h.size()));
    std::vector<char> record(26);
    for (const e57write::ScanData& d : site.scans) {
        for (size_t i = 0; i < d.intensity.size(); ++i) {
            std::fill(record.begin(), record.end(), 0);
            for (int k = 0; k < 3; ++k)
                Put<int32_t>(record, 4 * k,
                             static_cast<int32_t>(std::llround((d.coordinates[3 * i + k] + d.translation[k] - origin[k]) * 1000.0)));
            Put<uint16_t>(record, 12, d.intensity[i]);
            for (int c = 0; c < 3; ++c)
                Put<uint16_t>(record, 20 + 2 * c, static_cast<uint16_t>(d.rgb[3 * i + c] * 257));
            out.write(record.data(), static_cast<std::streamsize>(record.size()));
        }
    }
    out.close();
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    SilenceVtkOutput();
    size_t n = 10000000;
    int scans = 4, reps = 9;
    bool keep = false;
    std::string folder = std::filesystem::temp_directory_path().string();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--make" && i + 2 < argc) {
            const Site site = MakeSite(std::stoul(argv[i + 2]), i + 3 < argc ? std::atoi(argv[i + 3]) : 4);
            const std::string why = e57write::Write(argv[i + 1], site.scans);
            if (!why.empty())
                std::fprintf(stderr, "%s\n", why.c_str());
            return why.empty() ? 0 : 1;
        }
        if (a == "--points" && i + 1 < argc)
            n = std::stoul(argv[++i]);
        else if (a == "--scans" && i + 1 < argc)
            scans = std::atoi(argv[++i]);
        else if (a == "--reps" && i + 1 < argc)
            reps = std::atoi(argv[++i]);
        else if (a == "--folder" && i + 1 < argc)
            folder = argv[++i];
        else if (a == "--keep")
            keep = true;
        else {
            std::fprintf(stderr, "usage: e57_bench [--points N] [--scans S] [--reps R] [--folder DIR] [--keep] | --make FILE N [S]\n");
            return 2;
        }
    }
    const std::string e57 = folder + "/quarlon_e57_bench.e57";
    const std::string las = folder + "/quarlon_e57_bench.las";
    // Made in a child: the measured children are forked from this process,
    // and a heap it had filled would cost them copy-on-write faults.
    bench::Measure([&] {
        const Site site = MakeSite(n, scans);
        const std::string why = e57write::Write(e57, site.scans);
        if (!why.empty())
            std::fprintf(stderr, "cannot write the files: %s\n", why.c_str());
        return why.empty() && WriteLas(las, site);
    });
    std::printf("%zu points in %d scans: E57 %.1f MB, LAS %.1f MB\n", n, scans, std::filesystem::file_size(e57) / 1e6,
                std::filesystem::file_size(las) / 1e6);
    auto open = [](const std::string& file, int models) {
        return [file, models] {
            CRendererView view;
            CQuarlonDoc doc;
            doc.SetView(&view);
            doc.SetSettingsReadOnly(true);
            return doc.OnOpenDocument(file) && doc.GetModelCount() == models;
        };
    };
    std::vector<double> e57Time, lasTime;
    std::vector<long> e57Mem, lasMem;
    for (int r = 0; r < reps; ++r) {
        const auto [a, b] = bench::MeasurePair(r, open(e57, scans), open(las, 1));
        e57Time.push_back(a.seconds), e57Mem.push_back(a.peakKiB);
        lasTime.push_back(b.seconds), lasMem.push_back(b.peakKiB);
        std::printf("rep %d: E57 %.3f s %ld MiB | LAS %.3f s %ld MiB\n", r + 1, a.seconds, a.peakKiB / 1024, b.seconds,
                    b.peakKiB / 1024);
    }
    const double te = bench::Median(e57Time), tl = bench::Median(lasTime);
    std::printf("open E57 %.3f s (%.1f million points/s), LAS %.3f s (%.1f million points/s): E57/LAS %.2f "
                "(target <= 1.0) %s\n",
                te, n / te / 1e6, tl, n / tl / 1e6, te / tl, te <= tl ? "ok" : "MISSED");
    std::printf("peak memory: E57 %ld MiB, LAS %ld MiB\n", bench::Median(e57Mem) / 1024, bench::Median(lasMem) / 1024);
    if (!keep) {
        std::filesystem::remove(e57);
        std::filesystem::remove(las);
    }
    return 0;
}
