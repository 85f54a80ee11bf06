// The two text exports against the same files written with printf, on one
// model in one run: the XYZRGBTexXTexYImg listing and the configurable ASCII
// export (default definition: X Y Z R G B Intensity). Time ratios, whether
// the bytes agree, and the peak memory above loading alone.
#include "BenchUtil.h"

#include "core/exchange/AsciiExport.h"
#include "core/exchange/MergeExport.h"
#include "core/model/CScanPos.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"


#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

void MakeModel(const std::string& file, vtkIdType n)
{
    bench::MakeCloud(file, n, true);
    std::ofstream(std::filesystem::path(file).replace_extension(".vtw")) << "[PolyData Offset]\nX=500000\nY=4500000\nZ=100\n";
    std::ofstream(std::filesystem::path(file).replace_extension(".tex")) << "[Texture]\nFile=texture\\site.jpg\n";
}

std::string Read(const std::string& f)
{
    std::ifstream in(f, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

int main(int argc, char** argv)
{
    const vtkIdType n = argc > 1 ? std::atoll(argv[1]) : 2000000;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::string folder = (std::filesystem::temp_directory_path() / "quarlon-export-bench").string();
    std::filesystem::create_directories(folder);
    const std::string model = folder + "/model.vtp";
    MakeModel(model, n);
    std::cout << "model: " << n << " points with RGB, Intensity and Texture\n";

    enum Kind { ListingPlain, Listing, AsciiPlain, Ascii };
    static const char* const names[] = {"/plain.txt", "/fast.txt", "/ascii-plain.txt", "/ascii.txt"};
    auto write = [&](const CQuarlonDoc& doc, Kind kind) {
        const std::string out = folder + names[kind];
        CQuarlonDoc::Position pos = doc.GetFirstModelPosition();
        const exchange::AsciiSource source = exchange::AsciiSourceOf(*doc.GetNextModel(pos));
        switch (kind) {
        case ListingPlain: return exchange::WriteXyzRgbListingPlain(doc, out);
        case Listing: return exchange::WriteXyzRgbListing(doc, out, nullptr) == exchange::ExportResult::Ok;
        case AsciiPlain: return exchange::WriteAsciiExportPlain(source, exchange::AsciiDefinition(), out);
        default:
            return exchange::WriteAsciiExport(source, exchange::AsciiDefinition(), out, nullptr) ==
                   exchange::ExportResult::Ok;
        }
    };
    auto open = [&](CQuarlonDoc& doc, CRendererView& view) {
        doc.SetView(&view);
        doc.SetSettingsReadOnly(true);
        return doc.OnOpenDocument(model);
    };

    // Peak memory: loading alone, and loading then each fast export, each
    // in a process of its own.
    auto peak = [&](int kind) {
        return bench::Measure([&] {
                   CRendererView view;
                   CQuarlonDoc doc;
                   return open(doc, view) && (kind < 0 || write(doc, static_cast<Kind>(kind)));
               })
            .peakKiB;
    };
    const long loadPeak = peak(-1), listingPeak = peak(Listing), asciiPeak = peak(Ascii);

    // Time: the four writers in turn on one loaded document.
    CRendererView view;
    CQuarlonDoc doc;
    if (!open(doc, view)) {
        std::cerr << "the model did not load\n";
        return 1;
    }
    std::vector<double> times[4];
    for (int r = 0; r < reps; ++r) {
        for (int k = 0; k < 4; ++k) {
            const auto t0 = std::chrono::steady_clock::now();
            if (!write(doc, static_cast<Kind>(k))) {
                std::cerr << "writing " << names[k] << " failed\n";
                return 1;
            }
            times[k].push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
        std::cout << "rep " << r + 1 << ": fprintf listing " << times[0].back() << " s | listing " << times[1].back()
                  << " s | printf ascii " << times[2].back() << " s | ascii " << times[3].back() << " s\n";
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto report = [&](const char* what, int plain, int fast, long fastPeak) {
        const double p = median(times[plain]), f = median(times[fast]);
        const double bytes = static_cast<double>(std::filesystem::file_size(folder + names[plain]));
        const bool same = Read(folder + names[plain]) == Read(folder + names[fast]);
        std::printf("%s: printf %.3f s (%.0f MB/s), ours %.3f s (%.0f MB/s, synced to disk)\n", what, p,
                    bytes / p / 1e6, f, bytes / f / 1e6);
        std::printf("  time ratio printf/ours: %.2f (target >= 3) %s; identical bytes: %s; peak memory above "
                    "loading: %ld KiB for a %.0f MB file\n",
                    p / f, p / f >= 3 ? "ok" : "MISSED", same ? "yes" : "NO", fastPeak - loadPeak, bytes / 1e6);
    };
    report("XYZRGBTexXTexYImg listing", ListingPlain, Listing, listingPeak);
    report("ASCII export (default definition)", AsciiPlain, Ascii, asciiPeak);
    std::filesystem::remove_all(folder);
    return 0;
}
