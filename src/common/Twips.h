#pragma once
// Window design units: 15 twips to a pixel, both ways.

namespace quorvex {

constexpr int kTwipsPerPixel = 15;
constexpr int toPixels(int twips)
{
    return twips / kTwipsPerPixel;
}
constexpr int toTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

} // namespace quorvex
