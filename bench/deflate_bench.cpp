// Deflate speed on model-like data (coordinates rounded to millimetres,
// colours, intensities, vertex ids), cut in 32 KiB blocks as model files
// are, on one core: zlib level 1, libdeflate level 1 and ISA-L level 1.
// All three write zlib streams; each is checked by inflating it with zlib.
#include "core/exchange/ParallelDeflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<unsigned char> ModelLikeData(size_t points)
{
    std::mt19937_64 random(3);
    std::vector<unsigned char> data;
    auto put = [&](const void* p, size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        data.insert(data.end(), b, b + n);
    };
    for (size_t i = 0; i < points; ++i) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(random() % 256),
                                      static_cast<unsigned char>(random() % 200),
                                      static_cast<unsigned char>(random() % 100)};
        put(rgb, 3);
    }
    for (size_t i = 0; i < points; ++i) {
        const float intensity = static_cast<float>(random() % 4096);
        put(&intensity, 4);
    }
    for (size_t i = 0; i < points; ++i)
        for (int c = 0; c < 3; ++c) {
            const double v = std::round((static_cast<double>(random() % 100000000) / 1000.0 - 50000.0)) / 1000.0;
            put(&v, 8);
        }
    for (size_t i = 0; i < 2 * points; ++i) {
        const int id = static_cast<int>(i % points);
        put(&id, 4);
    }
    return data;
}

template <typename Compress> void Run(const char* name, const std::vector<unsigned char>& data, Compress&& compress)
{
    const size_t block = 32768;
    const size_t blocks = (data.size() + block - 1) / block;
    std::vector<std::vector<unsigned char>> out(blocks, std::vector<unsigned char>(zblock::Bound(block)));
    std::vector<size_t> sizes(blocks);
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t k = 0; k < blocks; ++k) {
        const size_t n = std::min(block, data.size() - k * block);
        sizes[k] = compress(data.data() + k * block, n, out[k].data(), out[k].size());
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // Every block must inflate with zlib to what went in.
    size_t total = 0;
    bool valid = true;
    std::vector<unsigned char> back(block);
    for (size_t k = 0; k < blocks; ++k) {
        const size_t n = std::min(block, data.size() - k * block);
        uLongf length = static_cast<uLongf>(n);
        valid = valid && sizes[k] > 0 &&
                uncompress(back.data(), &length, out[k].data(), static_cast<uLong>(sizes[k])) == Z_OK && length == n &&
                std::memcmp(back.data(), data.data() + k * block, n) == 0;
        total += sizes[k];
    }
    std::printf("%-20s %6.0f MB/s %7.1f MB out   zlib streams: %s\n", name, data.size() / s / 1e6, total / 1e6,
                valid ? "valid" : "INVALID");
}

} // namespace

int main(int argc, char** argv)
{
    const size_t points = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2000000;
    const std::vector<unsigned char> data = ModelLikeData(points);
    std::printf("%zu points: %.1f MB of model-like data in 32 KiB blocks\n", points, data.size() / 1e6);
    Run("zlib level 1", data, [](const unsigned char* in, size_t n, unsigned char* out, size_t cap) {
        return zblock::Compress(zblock::Method::Zlib, in, n, out, cap, 1);
    });
    libdeflate_compressor* c = libdeflate_alloc_compressor(1);
    Run("libdeflate level 1", data, [c](const unsigned char* in, size_t n, unsigned char* out, size_t cap) {
        return libdeflate_zlib_compress(c, in, n, out, cap);
    });
    libdeflate_free_compressor(c);
    Run("ISA-L level 1", data, [](const unsigned char* in, size_t n, unsigned char* out, size_t cap) {
        return zblock::Compress(zblock::Method::Isal, in, n, out, cap, 1);
    });
    return 0;
}
