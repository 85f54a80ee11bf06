#pragma once
// The XYZ conversion written the plain way: fgets and sscanf over a text
// stream (CR LF read as LF), VTK's translation filter and writer with
// their defaults. Tests compare the fast reader with it; the benchmark
// measures against it.
#include <string>
#include <vector>

struct ReferenceCloud {
    int code = -1;
    std::vector<double> points;
    std::vector<unsigned char> rgb;
    std::vector<float> intensity;
};

// false when the file cannot be read or its first data line fits no layout.
bool ReferenceRead(const std::string& path, ReferenceCloud& cloud);
// The whole specified conversion into `output` and its offset file.
bool ReferenceConvert(const std::string& source, const std::string& output);
