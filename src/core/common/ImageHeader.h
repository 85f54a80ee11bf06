#pragma once
// Image sizes read from the file's header, so that an image is judged before
// a decoder allocates what the header claims.
#include <cstdint>
#include <string>

namespace image {

constexpr int64_t kMaxSide = 32768;
constexpr int64_t kMaxDecodedBytes = int64_t(1) << 30;

struct Header {
    int64_t width = 0, height = 0;
    int channels = 0;       // samples per pixel once decoded
    int bytesPerSample = 1;
    int64_t DecodedBytes() const { return width * height * channels * bytesPerSample; }
};

// Reads the header of a JPEG, PNG, TIFF, BMP or PNM file (by its content,
// not its name). False with a reason when it cannot be read.
bool ReadHeader(const std::string& path, Header& header, std::string* why = nullptr);

// Empty when the image may be decoded; otherwise why not (unreadable header,
// more than kMaxSide pixels a side or kMaxDecodedBytes once decoded).
std::string CheckDecodable(const std::string& path);

} // namespace image
