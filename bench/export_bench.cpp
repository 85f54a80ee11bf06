// The XYZRGBTexXTexYImg listing against the same listing written with
// fprintf line by line, on one model in one run: time ratio and whether the
// bytes agree.
#include "BenchUtil.h"

#include "core/exchange/MergeExport.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"


#include <array>
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
    std::cout << "model: " << n << " points with RGB and Texture\n";
    auto run = [&](bool fast) {
        return bench::Measure([&] {
            CRendererView view;
            CQuarlonDoc doc;
            doc.SetView(&view);
            doc.SetSettingsReadOnly(true);
            if (!doc.OnOpenDocument(model))
                return false;
            const std::string out = folder + (fast ? "/fast.txt" : "/plain.txt");
            // Only the writing is timed by the difference of the two runs'
            // totals: loading is the same in both.
            return fast ? exchange::WriteXyzRgbListing(doc, out, nullptr) == exchange::ExportResult::Ok
                        : exchange::WriteXyzRgbListingPlain(doc, out);
        });
    };
    auto load = [&] {
        return bench::Measure([&] {
            CRendererView view;
            CQuarlonDoc doc;
            doc.SetView(&view);
            doc.SetSettingsReadOnly(true);
            return doc.OnOpenDocument(model);
        });
    };
    std::vector<double> loads, plains, fasts;
    for (int r = 0; r < reps; ++r) {
        loads.push_back(load().seconds);
        plains.push_back(run(false).seconds);
        fasts.push_back(run(true).seconds);
        std::cout << "rep " << r + 1 << ": load " << loads.back() << " s | load + fprintf " << plains.back()
                  << " s | load + listing " << fasts.back() << " s\n";
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double l = median(loads), p = median(plains) - l, f = median(fasts) - l;
    const double bytes = static_cast<double>(std::filesystem::file_size(folder + "/plain.txt"));
    std::printf("writing: fprintf %.3f s (%.0f MB/s), listing %.3f s (%.0f MB/s)\n", p, bytes / p / 1e6, f,
                bytes / f / 1e6);
    std::printf("time ratio fprintf/listing: %.2f (target >= 3) %s\n", p / f, p / f >= 3 ? "ok" : "MISSED");
    std::printf("identical bytes: %s\n", Read(folder + "/plain.txt") == Read(folder + "/fast.txt") ? "yes" : "NO");
    std::filesystem::remove_all(folder);
    return 0;
}
