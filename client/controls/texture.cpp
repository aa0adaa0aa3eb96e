#include "client/controls/texture.h"

#include <algorithm>
#include <cmath>

namespace mirvo {

namespace {

constexpr int metal_scratches = 200;

// A small fixed generator: the pictures must not change between runs.
class noise_source {
public:
    explicit noise_source(std::uint32_t seed) : state_(seed ? seed : 1) {}
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // Uniform in [-spread, spread].
    int around(int spread) {
        if (spread <= 0) return 0;
        return static_cast<int>(next() % static_cast<std::uint32_t>(2 * spread + 1)) - spread;
    }
    int below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % static_cast<std::uint32_t>(n)); }

private:
    std::uint32_t state_;
};

double ramp(int i, int n) { return n <= 1 ? 0.5 : static_cast<double>(i) / (n - 1); }

// 1 in the middle, falling off as a cubic towards both ends.
double bump(int i, int n) {
    double t = 2 * ramp(i, n) - 1;
    return 1 - std::fabs(t * t * t);
}

// Flat face with a bright bevel at the start and a dark one at the end.
int hard_bump(int i, int n) {
    int bevel = std::max(1, n / 5);
    if (i < bevel) return 255 - 95 * i / bevel;
    if (i >= n - bevel) return 160 - 120 * (i - (n - bevel)) / bevel;
    return 160;
}

int pattern_value(int effect, int x, int y, int w, int h, noise_source& noise) {
    switch (effect) {
        case 7:
            return 128 + noise.around(24);
        case 8:
            return static_cast<int>(255 * (w + h <= 2 ? 0.5 : static_cast<double>(x + y) / (w + h - 2)));
        case 9:
            return static_cast<int>(255 * ramp(y, h));
        case 10:
            return static_cast<int>(255 * ramp(x, w));
        case 11:
            return static_cast<int>(255 * bump(y, h));
        case 12:
            return static_cast<int>(255 * bump(x, w));
        case 13:
            return static_cast<int>(255 * (bump(x, w) + bump(y, h)) / 2);
        case 14:
            return hard_bump(y, h);
        default:
            return 150 + 60 * y / std::max(1, h);  // metal: a gentle sheen under the scratches
    }
}

void scratch_metal(std::uint8_t* pixels, int width, int height, int stride, noise_source& noise) {
    for (int k = 0; k < metal_scratches; ++k) {
        int y = noise.below(height);
        int x0 = noise.below(width);
        int len = std::max(1, width / 8 + noise.below(std::max(1, width / 3)));
        int shift = noise.around(40);
        std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = x0; x < std::min(width, x0 + len); ++x)
            row[x] = static_cast<std::uint8_t>(std::clamp(row[x] + shift, 0, 255));
    }
}

}  // namespace

std::array<colour_ref, 256> texture_palette(colour_ref c1, colour_ref c2, colour_ref c3) {
    std::array<colour_ref, 256> p{};
    for (int i = 0; i < 128; ++i) {
        p[static_cast<std::size_t>(i)] = colour_step(c3, c2, i, 128);
        p[static_cast<std::size_t>(128 + i)] = colour_step(c2, c1, i, 128);
    }
    return p;
}

void fill_texture(int effect, std::uint8_t* pixels, int width, int height, int stride, int granularity,
                  std::uint32_t seed) {
    if (!pixels || width <= 0 || height <= 0 || stride < width) return;
    noise_source noise(seed);
    granularity = std::clamp(granularity, 0, 255);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            int v = pattern_value(effect, x, y, width, height, noise) + noise.around(granularity);
            row[x] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
        }
    }
    if (effect == 15) scratch_metal(pixels, width, height, stride, noise);
}

}  // namespace mirvo
