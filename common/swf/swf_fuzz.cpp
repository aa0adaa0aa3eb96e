// Movie bytes come from the network: neither reading the header nor rewriting
// the timeline may read out of bounds, and a rewritten movie must be readable.
#include "common/swf/swf.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto head = mirvo::swf::read_header(bytes);
    const auto marked = mirvo::swf::insert_frame_markers(bytes, "@f:");
    if (marked) {
        // Anything rewritable has a readable header, and so has the result.
        const auto out_head = mirvo::swf::read_header(*marked);
        if (!head || !out_head || out_head->file_length != marked->size() || out_head->avm2 ||
            out_head->frame_count != head->frame_count)
            std::abort();
    }
    return 0;
}
