#pragma once
// The point-wise item coders of LAZ (item versions 1 and 2): each predicts
// its part of a point record from the points before it in the chunk and
// decodes the difference from the chunk's one arithmetic stream.
#include "core/formats/LazCoder.h"

#include <memory>
#include <string>

namespace laz {

enum ItemType : uint16_t {
    Byte = 0, Point10 = 6, GpsTime11 = 7, Rgb12 = 8, WavePacket13 = 9,
    Point14 = 10, Rgb14 = 11, RgbNir14 = 12, WavePacket14 = 13, Byte14 = 14
};

struct Item {
    uint16_t type = 0, size = 0, version = 0;
};

class PointwiseItem {
public:
    virtual ~PointwiseItem() = default;
    // The item's bytes of the chunk's raw first point.
    virtual void Init(const uint8_t* raw) = 0;
    // The next point's item bytes into `out`.
    virtual void Decode(ArithmeticDecoder& ad, uint8_t* out) = 0;
};

// RGB12 version 2 (also the colour of the layered items): the colour
// `last` (six bytes) updated from the stream.
void DecodeRgb12V2(ArithmeticDecoder& ad, SymbolModel& used, SymbolModel* diffs, uint8_t* last);

// A fresh coder for `item` (versions 1 and 2); none with the reason in
// `why` for what the point-wise coders do not know.
std::unique_ptr<PointwiseItem> MakePointwiseItem(const Item& item, std::string* why);

} // namespace laz
