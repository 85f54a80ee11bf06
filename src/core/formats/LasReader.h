#pragma once
// LAS point clouds (ASPRS LAS 1.0 to 1.4, point formats 0 to 10, plain or
// LAZ-compressed), read into a cloud with "RGB" and "Intensity". Every header
// field is checked against the file's size before anything is allocated.
#include <cstddef>
#include <cstdint>
#include <string>

namespace las {

struct Header {
    int versionMajor = 0;
    int versionMinor = 0;
    unsigned headerSize = 0;
    uint64_t pointOffset = 0;
    int format = 0;            // 0..10
    unsigned recordLength = 0;
    uint64_t count = 0;        // the 1.4 count where there is one
    double scale[3] = {1, 1, 1};
    double offset[3] = {0, 0, 0};
    double min[3] = {0, 0, 0};
    double max[3] = {0, 0, 0};
    bool compressed = false;   // LAZ
    unsigned vlrCount = 0;
    uint64_t evlrStart = 0;    // 1.4: where the extended VLRs begin (0: none)
};

// The header of a file of `fileSize` bytes from its first `available`
// bytes (at least 375 where the file has them). Empty when it can be read,
// otherwise why not.
std::string ParseHeader(const unsigned char* bytes, size_t available, uint64_t fileSize, Header& header);

// Size of a point record of a format, without extra bytes; 0 when unknown.
unsigned MinimumRecordLength(int format);
// Where a format keeps its 16-bit colours; -1 when it has none.
int ColourOffset(int format);

} // namespace las
