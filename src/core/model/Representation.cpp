#include "core/model/Representation.h"

namespace representation {

namespace {

using S = Style;
using C = Colouring;

const Row kRows[kCount] = {
    {S::Points, C::Rgb, 0, "RGB", "Points RGB"},
    {S::Points, C::Intensity, 1, "Intensity", "Points Intensity GrayScale"},
    {S::Points, C::Intensity, 2, "Intensity", "Points Intensity RedBlue"},
    {S::Points, C::Intensity, 3, "Intensity", "Points Intensity BlueRed"},
    {S::Points, C::OneColor, 0, nullptr, "Points One Color"},
    {S::Wireframe, C::Rgb, 0, "RGB", "Wireframe RGB"},
    {S::Wireframe, C::Intensity, 1, "Intensity", "Wireframe Intensity GrayScale"},
    {S::Wireframe, C::Intensity, 2, "Intensity", "Wireframe Intensity RedBlue"},
    {S::Wireframe, C::Intensity, 3, "Intensity", "Wireframe Intensity BlueRed"},
    {S::Wireframe, C::OneColor, 0, nullptr, "Wireframe One Color"},
    {S::Surface, C::Rgb, 0, "RGB", "Surface RGB"},
    {S::Surface, C::Intensity, 1, "Intensity", "Surface Intensity GrayScale"},
    {S::Surface, C::Intensity, 2, "Intensity", "Surface Intensity RedBlue"},
    {S::Surface, C::Intensity, 3, "Intensity", "Surface Intensity BlueRed"},
    {S::Surface, C::OneColor, 0, nullptr, "Surface One Color"},
    {S::Surface, C::Texture, 0, "Texture", "Surface Texture"},
    {S::Points, C::Texture, 0, "Texture", "Points Texture"},
    {S::Wireframe, C::Texture, 0, "Texture", "Wireframe Texture"},
};

} // namespace

bool IsValid(int index) { return index >= 0 && index < kCount; }

const Row& At(int index) { return kRows[IsValid(index) ? index : 0]; }

int IndexOf(Style style, Colouring colouring, int colorMap)
{
    for (int i = 0; i < kCount; ++i) {
        const Row& r = kRows[i];
        if (r.style == style && r.colouring == colouring && (colouring != C::Intensity || r.colorMap == colorMap))
            return i;
    }
    return -1;
}

const char* Label(int index) { return IsValid(index) ? kRows[index].label : ""; }

int MenuIndex(int style, int position)
{
    static const C kOrder[kPerStyle] = {C::OneColor, C::Rgb, C::Texture, C::Intensity, C::Intensity, C::Intensity};
    static const int kMaps[kPerStyle] = {0, 0, 0, 1, 2, 3};
    if (style < 0 || style >= kStyles || position < 0 || position >= kPerStyle)
        return -1;
    return IndexOf(static_cast<Style>(style), kOrder[position], kMaps[position]);
}

} // namespace representation
