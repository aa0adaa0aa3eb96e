#include "common/swf/swf.h"

#include "common/swf/swf_bytes.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace mirvo::swf {
namespace {

using namespace detail;

constexpr std::size_t file_header_size = 8;  // signature, version, length
constexpr std::size_t zws_props_at = 12;     // after the compressed-length field
constexpr std::size_t zws_props_size = 5;
constexpr std::size_t zws_data_at = zws_props_at + zws_props_size;
// Enough body for the largest RECT (17 bytes), rate and count, a long tag
// header and the first byte of FileAttributes.
constexpr std::size_t preamble_max = 17 + 4 + 6 + 1;
constexpr std::size_t max_marker_prefix = 1024;
constexpr int max_root_frames = 0xFFFF;  // the header's frame count is 16 bits

struct file_start {
    compression kind;
    int version;
    std::uint32_t file_length;
};

std::optional<file_start> read_file_start(std::string_view bytes) {
    if (bytes.size() < file_header_size || bytes[1] != 'W' || bytes[2] != 'S') return std::nullopt;
    file_start start{};
    switch (bytes[0]) {
        case 'F':
            start.kind = compression::none;
            break;
        case 'C':
            start.kind = compression::zlib;
            break;
        case 'Z':
            start.kind = compression::lzma;
            break;
        default:
            return std::nullopt;
    }
    start.version = static_cast<unsigned char>(bytes[3]);
    start.file_length = get_u32(bytes, 4);
    if (start.file_length < file_header_size || start.file_length > max_movie_length) return std::nullopt;
    return start;
}

struct decode_step {
    std::size_t produced;
    bool more;  // false once the stream ended, broke or cannot progress
};

// Runs a decoder into a buffer that grows towards `want` as output arrives, so
// a small hostile file declaring a large length costs only what it decodes.
template <class Step>
std::string decode_growing(std::size_t want, Step step) {
    std::string out;
    std::size_t produced = 0;
    while (produced < want) {
        if (produced == out.size())
            out.resize(std::min(want, std::max<std::size_t>(std::size_t{1} << 16, out.size() * 2)));
        const decode_step done = step(out.data() + produced, out.size() - produced);
        produced += done.produced;
        if (!done.more) break;
    }
    out.resize(produced);
    return out;
}

// Inflates at most `want` bytes; a stream that ends early or breaks yields
// what was decoded before.
std::string inflate_body(std::string_view in, std::size_t want) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return {};
    std::size_t fed = 0;
    std::string out = decode_growing(want, [&](char* dst, std::size_t room) {
        if (zs.avail_in == 0 && fed < in.size()) {
            const std::size_t chunk = std::min<std::size_t>(in.size() - fed, 1u << 20);
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + fed));
            zs.avail_in = static_cast<uInt>(chunk);
            fed += chunk;
        }
        zs.next_out = reinterpret_cast<Bytef*>(dst);
        zs.avail_out = static_cast<uInt>(room);
        // Anything but Z_OK: stream end, damage, or no input left to progress.
        const bool more = inflate(&zs, Z_NO_FLUSH) == Z_OK;
        return decode_step{room - zs.avail_out, more};
    });
    inflateEnd(&zs);
    return out;
}

// Decodes the raw LZMA data of a ZWS movie. Such movies carry no end-of-stream
// size, and some writers omit the end marker, so decoding stops as soon as
// `want` bytes are out.
std::string unlzma_body(std::string_view props, std::string_view data, std::size_t want) {
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, reinterpret_cast<const std::uint8_t*>(props.data()),
                               props.size()) != LZMA_OK)
        return {};
    auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
    // A dictionary larger than the whole output is never used; a hostile file
    // could otherwise make the decoder allocate gigabytes.
    const auto dict_cap = static_cast<std::uint32_t>(std::max<std::size_t>(want, LZMA_DICT_SIZE_MIN));
    options->dict_size = std::max<std::uint32_t>(std::min(options->dict_size, dict_cap), LZMA_DICT_SIZE_MIN);
    lzma_stream strm = LZMA_STREAM_INIT;
    const lzma_ret init = lzma_raw_decoder(&strm, filters);
    std::free(options);
    if (init != LZMA_OK) return {};

    strm.next_in = reinterpret_cast<const std::uint8_t*>(data.data());
    strm.avail_in = data.size();
    std::string out = decode_growing(want, [&](char* dst, std::size_t room) {
        const std::size_t before_in = strm.avail_in;
        strm.next_out = reinterpret_cast<std::uint8_t*>(dst);
        strm.avail_out = room;
        const lzma_ret rc = lzma_code(&strm, strm.avail_in > 0 ? LZMA_RUN : LZMA_FINISH);
        const std::size_t produced = room - strm.avail_out;
        return decode_step{produced, rc == LZMA_OK && (produced > 0 || strm.avail_in != before_in)};
    });
    lzma_end(&strm);
    return out;
}

// The first `want` bytes of the body (everything after the 8-byte file
// header), fewer when the movie ends or its stream breaks first.
std::string read_body(std::string_view bytes, const file_start& start, std::size_t want) {
    switch (start.kind) {
        case compression::none:
            return std::string(bytes.substr(file_header_size, want));
        case compression::zlib:
            return inflate_body(bytes.substr(file_header_size), want);
        case compression::lzma:
            if (bytes.size() < zws_data_at) return {};
            return unlzma_body(bytes.substr(zws_props_at, zws_props_size), bytes.substr(zws_data_at), want);
    }
    return {};
}

// Stage RECT, frame rate and frame count at the start of the body.
struct preamble {
    int width_twips = 0, height_twips = 0;
    double frame_rate = 0;
    int frame_count = 0;
    std::size_t tags_at = 0;
};

std::optional<preamble> read_preamble(std::string_view body) {
    if (body.empty()) return std::nullopt;
    const int nbits = static_cast<unsigned char>(body[0]) >> 3;
    const std::size_t rect_bytes = (5 + 4 * static_cast<std::size_t>(nbits) + 7) / 8;
    if (body.size() < rect_bytes + 4) return std::nullopt;

    std::size_t bit = 5;
    auto signed_field = [&]() {
        std::int64_t value = 0;
        for (int i = 0; i < nbits; ++i, ++bit)
            value = (value << 1) | ((static_cast<unsigned char>(body[bit / 8]) >> (7 - bit % 8)) & 1);
        if (nbits > 0 && (value >> (nbits - 1)) != 0) value -= std::int64_t{1} << nbits;
        return value;
    };
    const std::int64_t xmin = signed_field(), xmax = signed_field();
    const std::int64_t ymin = signed_field(), ymax = signed_field();

    preamble p;
    p.width_twips = static_cast<int>(std::max<std::int64_t>(0, xmax - xmin));
    p.height_twips = static_cast<int>(std::max<std::int64_t>(0, ymax - ymin));
    const unsigned rate = get_u16(body, rect_bytes);
    p.frame_rate = (rate >> 8) + (rate & 0xFF) / 256.0;
    p.frame_count = static_cast<int>(get_u16(body, rect_bytes + 2));
    p.tags_at = rect_bytes + 4;
    return p;
}

struct tag_head {
    int code = 0;
    std::size_t header_size = 0;
    std::size_t length = 0;
};

// The tag header at pos, when its bytes are there (the body is not checked).
std::optional<tag_head> read_tag_head(std::string_view body, std::size_t pos) {
    if (body.size() < 2 || pos > body.size() - 2) return std::nullopt;
    const unsigned code_and_length = get_u16(body, pos);
    tag_head tag{static_cast<int>(code_and_length >> 6), 2, code_and_length & 0x3F};
    if (tag.length == 0x3F) {
        if (pos > body.size() - 6) return std::nullopt;
        tag.header_size = 6;
        tag.length = get_u32(body, pos + 2);
    }
    return tag;
}

// Only a FileAttributes tag in first place counts, as in the Flash player.
bool marks_avm2(std::string_view body, std::size_t pos, const tag_head& first) {
    return first.code == tag_file_attributes && first.length >= 1 &&
           (static_cast<unsigned char>(body[pos + first.header_size]) & 0x08) != 0;
}

}  // namespace

std::optional<header> read_header(const std::string& bytes) {
    const auto start = read_file_start(bytes);
    if (!start) return std::nullopt;
    const std::size_t declared = start->file_length - file_header_size;
    const std::size_t want = std::min(declared, preamble_max);
    const std::string body = read_body(bytes, *start, want);
    const auto pre = read_preamble(body);
    if (!pre) return std::nullopt;

    header h;
    h.kind = start->kind;
    h.version = start->version;
    h.file_length = start->file_length;
    h.frame_count = pre->frame_count;
    h.frame_rate = pre->frame_rate;
    h.width_twips = pre->width_twips;
    h.height_twips = pre->height_twips;

    const auto first = read_tag_head(body, pre->tags_at);
    const bool flags_readable = first && (first->code != tag_file_attributes || first->length == 0 ||
                                          pre->tags_at + first->header_size < body.size());
    if (flags_readable)
        h.avm2 = marks_avm2(body, pre->tags_at, *first);
    else if (body.size() < want)
        return std::nullopt;  // cut off before the first tag: AS3 or not is unknown
    return h;
}

std::optional<std::string> insert_frame_markers(const std::string& bytes, const std::string& marker_prefix) {
    if (marker_prefix.size() > max_marker_prefix || marker_prefix.find('\0') != std::string::npos) return std::nullopt;
    const auto start = read_file_start(bytes);
    if (!start) return std::nullopt;
    const std::size_t declared = start->file_length - file_header_size;
    const std::string body = read_body(bytes, *start, declared);
    if (body.size() != declared) return std::nullopt;
    const auto pre = read_preamble(body);
    if (!pre) return std::nullopt;

    std::string out = "FWS";
    out.push_back(static_cast<char>(start->version));
    put_u32(out, 0);  // length, set once known
    out.append(body, 0, pre->tags_at);

    int frame = 0;
    for (std::size_t pos = pre->tags_at;;) {
        const auto tag = read_tag_head(body, pos);
        if (!tag || tag->length > body.size() - pos - tag->header_size) return std::nullopt;
        if (pos == pre->tags_at && marks_avm2(body, pos, *tag))
            return std::nullopt;  // DoAction means nothing to an AS3 movie
        if (tag->code == tag_show_frame) {
            if (frame == max_root_frames) return std::nullopt;
            append_tag(out, tag_do_action, trace_actions(marker_prefix + std::to_string(frame)));
            ++frame;
        }
        // A DefineSprite is copied whole: its own ShowFrames are not root frames.
        out.append(body, pos, tag->header_size + tag->length);
        pos += tag->header_size + tag->length;
        if (tag->code == tag_end) break;
    }

    const auto length = static_cast<std::uint32_t>(out.size());
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return out;
}

}  // namespace mirvo::swf
