// Opening a LAS file against opening the same points as the model file
// `quarlon-cli import` makes of it: the viewer's whole load (reader,
// reduced level, mappers, colouring, actor) both ways, each in its own
// child process, medians of one run.
//
//   las_bench [POINTS=5000000] [REPETITIONS=3] [FOLDER]
#include "core/exchange/XyzImport.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/common/VtkErrorCatcher.h"
#include "BenchUtil.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

template <class T>
void Put(std::vector<char>& b, size_t at, T v)
{
    std::memcpy(&b[at], &v, sizeof v);
}

// LAS 1.2, point format 3 (GPS time and 16-bit colours), a site of 200 m
// in millimetres, written in chunks.
void MakeLas(const std::string& path, uint32_t n)
{
    std::vector<char> h(227, 0);
    std::memcpy(h.data(), "LASF", 4);
    h[24] = 1;
    h[25] = 2;
    Put<uint16_t>(h, 94, 227);
    Put<uint32_t>(h, 96, 227);
    h[104] = 3;
    Put<uint16_t>(h, 105, 34);
    Put<uint32_t>(h, 107, n);
    for (int k = 0; k < 3; ++k) {
        Put<double>(h, 131 + 8 * k, 0.001);
        Put<double>(h, 155 + 8 * k, k == 0 ? 512000.0 : k == 1 ? 5400000.0 : 300.0);
    }
    std::ofstream out(path, std::ios::binary);
    out.write(h.data(), static_cast<std::streamsize>(h.size()));
    std::mt19937 random(1);
    std::vector<char> chunk;
    for (uint32_t i = 0; i < n;) {
        const uint32_t count = std::min<uint32_t>(65536, n - i);
        chunk.assign(size_t(count) * 34, 0);
        for (uint32_t j = 0; j < count; ++j, ++i) {
            const size_t at = size_t(j) * 34;
            Put<int32_t>(chunk, at, static_cast<int32_t>(random() % 200000) - 100000);
            Put<int32_t>(chunk, at + 4, static_cast<int32_t>(random() % 200000) - 100000);
            Put<int32_t>(chunk, at + 8, static_cast<int32_t>(random() % 30000));
            Put<uint16_t>(chunk, at + 12, static_cast<uint16_t>(random()));
            Put<double>(chunk, at + 20, 1000.0 + i * 1e-5);
            for (int k = 0; k < 3; ++k)
                Put<uint16_t>(chunk, at + 28 + 2 * k, static_cast<uint16_t>((random() % 256) * 257));
        }
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
}

} // namespace

int main(int argc, char** argv)
{
    SilenceVtkOutput();
    const long n = argc > 1 ? std::atol(argv[1]) : 5000000;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::string folder = argc > 3 ? argv[3] : std::filesystem::temp_directory_path().string();
    const std::string las = folder + "/quarlon_las_bench.las";
    const std::string vtp = folder + "/quarlon_las_bench.vtp";
    MakeLas(las, static_cast<uint32_t>(n));
    std::string why;
    if (xyz::ConvertForeignFile(las, vtp, nullptr, &why) != xyz::ConvertResult::Ok) {
        std::fprintf(stderr, "conversion failed: %s\n", why.c_str());
        return 1;
    }
    std::printf("%ld points: LAS %.1f MB, model %.1f MB\n", n, std::filesystem::file_size(las) / 1e6,
                std::filesystem::file_size(vtp) / 1e6);
    auto open = [](const std::string& file) {
        return [file] {
            CRendererView view;
            CQuarlonDoc doc;
            doc.SetView(&view);
            doc.SetSettingsReadOnly(true);
            return doc.OnOpenDocument(file);
        };
    };
    std::vector<double> lasTime, vtpTime;
    std::vector<long> lasMem, vtpMem;
    for (int r = 0; r < reps; ++r) {
        const auto [a, b] = bench::MeasurePair(r, open(las), open(vtp));
        lasTime.push_back(a.seconds), lasMem.push_back(a.peakKiB);
        vtpTime.push_back(b.seconds), vtpMem.push_back(b.peakKiB);
        std::printf("rep %d: LAS %.3f s %ld MiB | model file %.3f s %ld MiB\n", r + 1, a.seconds, a.peakKiB / 1024,
                    b.seconds, b.peakKiB / 1024);
    }
    const double ratio = bench::Median(lasTime) / bench::Median(vtpTime);
    std::printf("open LAS %.3f s, model file %.3f s, ratio %.2f (target <= 1.5) %s\n", bench::Median(lasTime),
                bench::Median(vtpTime), ratio, ratio <= 1.5 ? "ok" : "MISSED");
    std::printf("peak memory: LAS %ld MiB, model file %ld MiB\n", bench::Median(lasMem) / 1024,
                bench::Median(vtpMem) / 1024);
    for (const std::string& f : {las, vtp, folder + "/quarlon_las_bench.vtw"})
        std::filesystem::remove(f);
    return 0;
}
