#pragma once
// The eighteen representations of a model: how it is drawn (points,
// wireframe, surface) and coloured (one colour, RGB, texture, intensity
// through one of three colour maps). Index 0 to 17 is what the fast-switch
// commands, the settings file and the properties dialog use; this table is
// the one place that says what each index means.
namespace representation {

constexpr int kCount = 18;

enum class Style { Points, Wireframe, Surface };
enum class Colouring { OneColor, Rgb, Intensity, Texture };

struct Row {
    Style style;
    Colouring colouring;
    int colorMap;      // 0 direct, 1 GrayScale, 2 RedBlue, 3 BlueRed
    const char* array; // the point-data array asked for (exact case); none for one colour
    const char* label;
};

bool IsValid(int index);
// The row of a valid index.
const Row& At(int index);
// The index of a style and colouring (`colorMap` counts for intensity only).
int IndexOf(Style style, Colouring colouring, int colorMap = 0);
// "" for an index out of range.
const char* Label(int index);

// The order of the "Fast Representation Switch" menu: per style One Color,
// RGB, Texture, GrayScale, RedBlue, BlueRed.
constexpr int kStyles = 3;
constexpr int kPerStyle = 6;
int MenuIndex(int style, int position);

} // namespace representation
