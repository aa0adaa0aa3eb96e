// The textured fill effects (7 to 15) as 8-bit palette pictures: the palette
// that runs through the three colours and the pixel pattern of each effect.
#pragma once

#include "client/controls/colour.h"

#include <array>
#include <cstdint>

namespace mirvo {

constexpr bool is_textured_effect(int effect) { return effect >= 7 && effect <= 15; }

// Entries 0..127 run from c3 to c2, entries 128..255 from c2 to c1.
std::array<colour_ref, 256> texture_palette(colour_ref c1, colour_ref c2, colour_ref c3);

// Writes the palette indices of a textured effect into rows of `stride`
// bytes, with noise uniform in +-granularity. The noise comes from a fixed
// seed, so the same call draws the same picture.
void fill_texture(int effect, std::uint8_t* pixels, int width, int height, int stride, int granularity,
                  std::uint32_t seed = 1);

}  // namespace mirvo
