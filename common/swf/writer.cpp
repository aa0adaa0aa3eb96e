#include "common/swf/writer.h"

#include "common/swf/swf_bytes.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace mirvo::swf {

using namespace detail;

// ---- bit_writer -------------------------------------------------------------

void bit_writer::put_unsigned(std::uint32_t value, int nbits) {
    for (int i = nbits - 1; i >= 0; --i) {
        if (free_bits_ == 0) {
            bytes_.push_back(0);
            free_bits_ = 8;
        }
        --free_bits_;
        if ((value >> i) & 1) bytes_.back() = static_cast<char>(bytes_.back() | (1 << free_bits_));
    }
}

void bit_writer::put_signed(std::int32_t value, int nbits) {
    // Two's complement: the low nbits of the value are the field.
    put_unsigned(static_cast<std::uint32_t>(value), nbits);
}

void bit_writer::align() { free_bits_ = 0; }

std::string bit_writer::take() {
    align();
    return std::move(bytes_);
}

int bit_writer::unsigned_bits(std::uint32_t value) {
    int n = 1;
    while (n < 32 && (value >> n) != 0) ++n;
    return n;
}

int bit_writer::signed_bits(std::initializer_list<std::int32_t> values) {
    int n = 1;
    for (const std::int64_t v : values)
        while (n < 32 && (v < -(std::int64_t{1} << (n - 1)) || v >= (std::int64_t{1} << (n - 1)))) ++n;
    return n;
}

namespace {

void put_rect(bit_writer& bits, int xmin, int xmax, int ymin, int ymax) {
    const int n = bit_writer::signed_bits({xmin, xmax, ymin, ymax});
    bits.put_unsigned(static_cast<std::uint32_t>(n), 5);
    for (const int v : {xmin, xmax, ymin, ymax}) bits.put_signed(v, n);
    bits.align();
}

// Translation-only MATRIX.
std::string translate_matrix(int x, int y) {
    bit_writer bits;
    bits.put_unsigned(0, 1);  // no scale
    bits.put_unsigned(0, 1);  // no rotation
    const int n = bit_writer::signed_bits({x, y});
    bits.put_unsigned(static_cast<std::uint32_t>(n), 5);
    bits.put_signed(x, n);
    bits.put_signed(y, n);
    return bits.take();
}

// Edge records carry at most 17-bit deltas; longer edges are split.
constexpr int max_edge_delta = 0xFFFF;

void put_straight_edge(bit_writer& bits, int dx, int dy) {
    const int pieces = 1 + std::max(std::abs(dx), std::abs(dy)) / (max_edge_delta + 1);
    for (int i = 0; i < pieces; ++i) {
        const int px =
            static_cast<int>(static_cast<long long>(dx) * (i + 1) / pieces - static_cast<long long>(dx) * i / pieces);
        const int py =
            static_cast<int>(static_cast<long long>(dy) * (i + 1) / pieces - static_cast<long long>(dy) * i / pieces);
        bits.put_unsigned(1, 1);  // edge
        bits.put_unsigned(1, 1);  // straight
        const int n = std::max(2, bit_writer::signed_bits({px, py}));
        bits.put_unsigned(static_cast<std::uint32_t>(n - 2), 4);
        if (px != 0 && py != 0) {
            bits.put_unsigned(1, 1);  // general line
            bits.put_signed(px, n);
            bits.put_signed(py, n);
        } else {
            bits.put_unsigned(0, 1);
            bits.put_unsigned(px == 0 ? 1 : 0, 1);  // vertical
            bits.put_signed(px == 0 ? py : px, n);
        }
    }
}

void put_curved_edge(bit_writer& bits, int cx, int cy, int ax, int ay) {
    bits.put_unsigned(1, 1);  // edge
    bits.put_unsigned(0, 1);  // curved
    const int n = std::max(2, bit_writer::signed_bits({cx, cy, ax, ay}));
    bits.put_unsigned(static_cast<std::uint32_t>(n - 2), 4);
    for (const int v : {cx, cy, ax, ay}) bits.put_signed(v, n);
}

// Style change that starts a new closed path with fill style 1 on its right:
// the outlines are drawn clockwise on screen (y grows downwards).
void put_move_to(bit_writer& bits, int x, int y) {
    bits.put_unsigned(0, 1);        // non-edge record
    bits.put_unsigned(0b00101, 5);  // new styles, line style, fill 1, fill 0, move to
    const int n = bit_writer::signed_bits({x, y});
    bits.put_unsigned(static_cast<std::uint32_t>(n), 5);
    bits.put_signed(x, n);
    bits.put_signed(y, n);
    bits.put_unsigned(1, 1);  // fill style 1 := the only style (NumFillBits is 1)
}

struct point {
    int x, y;
};

constexpr int max_circle_radius = 150000;

// Eight quadratic segments; the control points sit on the circle's tangents,
// at radius r / cos(22.5 degrees). Points are rounded before the deltas are
// taken, so the path closes exactly.
std::vector<point> circle_points(const outline& o) {
    const double r = std::clamp(o.width, 1, max_circle_radius);
    const double rc = r / std::cos(std::numbers::pi / 8);
    std::vector<point> pts;  // anchor0, control1, anchor1, ..., control8, anchor8 == anchor0
    auto at = [&](double radius, double angle) {
        return point{o.x + static_cast<int>(std::lround(radius * std::cos(angle))),
                     o.y + static_cast<int>(std::lround(radius * std::sin(angle)))};
    };
    pts.push_back(at(r, 0));
    for (int k = 0; k < 8; ++k) {
        pts.push_back(at(rc, (k + 0.5) * std::numbers::pi / 4));
        pts.push_back(k == 7 ? pts.front() : at(r, (k + 1) * std::numbers::pi / 4));
    }
    return pts;
}

std::vector<point> outline_extent(const outline& o) {
    if (o.type == outline::kind::circle) return circle_points(o);
    return {{o.x, o.y}, {o.x + o.width, o.y + o.height}};
}

}  // namespace

// ---- timeline ---------------------------------------------------------------

namespace {
enum : unsigned {
    place_move = 0x01,
    place_has_character = 0x02,
    place_has_matrix = 0x04,
};
}

void timeline::place_object(unsigned flags, std::uint16_t depth, std::uint16_t character, int x, int y) {
    std::string body;
    body.push_back(static_cast<char>(flags));
    put_u16(body, depth);
    if (flags & place_has_character) put_u16(body, character);
    body += translate_matrix(x, y);
    append_tag(tags_, tag_place_object2, body);
}

void timeline::place(std::uint16_t depth, std::uint16_t character, int x, int y) {
    place_object(place_has_character | place_has_matrix, depth, character, x, y);
}

void timeline::move(std::uint16_t depth, int x, int y) { place_object(place_move | place_has_matrix, depth, 0, x, y); }

void timeline::replace(std::uint16_t depth, std::uint16_t character, int x, int y) {
    place_object(place_move | place_has_character | place_has_matrix, depth, character, x, y);
}

void timeline::remove(std::uint16_t depth) {
    std::string body;
    put_u16(body, depth);
    append_tag(tags_, tag_remove_object2, body);
}

void timeline::stop() {
    const char actions[] = {static_cast<char>(action_stop), static_cast<char>(action_end)};
    append_tag(tags_, tag_do_action, std::string_view(actions, sizeof actions));
}

void timeline::trace(std::string_view text) {
    text = text.substr(0, std::min(text.find('\0'), max_push_text));
    append_tag(tags_, tag_do_action, trace_actions(text));
}

void timeline::start_sound(std::uint16_t sound) {
    std::string body;
    put_u16(body, sound);
    body.push_back(0);  // SOUNDINFO: no options
    append_tag(tags_, tag_start_sound, body);
}

void timeline::show_frame() {
    append_tag(tags_, tag_show_frame, {});
    ++frames_;
}

// ---- movie_writer -----------------------------------------------------------

movie_writer::movie_writer(const stage& s) : stage_(s) {
    if (stage_.version >= 8) {
        std::string flags;
        put_u32(flags, 0);  // AVM1, no metadata, local file access
        append_tag(tags_, tag_file_attributes, flags);
    }
    const char color[] = {static_cast<char>(s.background.r), static_cast<char>(s.background.g),
                          static_cast<char>(s.background.b)};
    append_tag(tags_, tag_set_background_color, std::string_view(color, sizeof color));
}

std::uint16_t movie_writer::define_shape(rgb fill, const std::vector<outline>& parts) {
    const std::uint16_t id = next_id_++;
    std::string body;
    put_u16(body, id);

    int xmin = 0, xmax = 0, ymin = 0, ymax = 0;
    bool first = true;
    for (const outline& o : parts)
        for (const point& p : outline_extent(o)) {
            xmin = first ? p.x : std::min(xmin, p.x);
            xmax = first ? p.x : std::max(xmax, p.x);
            ymin = first ? p.y : std::min(ymin, p.y);
            ymax = first ? p.y : std::max(ymax, p.y);
            first = false;
        }
    bit_writer bounds;
    put_rect(bounds, xmin, xmax, ymin, ymax);
    body += bounds.take();

    body.push_back(1);  // one fill style
    body.push_back(0);  // solid
    body.push_back(static_cast<char>(fill.r));
    body.push_back(static_cast<char>(fill.g));
    body.push_back(static_cast<char>(fill.b));
    body.push_back(0);  // no line styles

    bit_writer bits;
    bits.put_unsigned(1, 4);  // NumFillBits
    bits.put_unsigned(0, 4);  // NumLineBits
    for (const outline& o : parts) {
        if (o.type == outline::kind::rect) {
            put_move_to(bits, o.x, o.y);
            put_straight_edge(bits, o.width, 0);
            put_straight_edge(bits, 0, o.height);
            put_straight_edge(bits, -o.width, 0);
            put_straight_edge(bits, 0, -o.height);
        } else {
            const std::vector<point> pts = circle_points(o);
            put_move_to(bits, pts[0].x, pts[0].y);
            for (std::size_t i = 1; i + 1 < pts.size(); i += 2)
                put_curved_edge(bits, pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y, pts[i + 1].x - pts[i].x,
                                pts[i + 1].y - pts[i].y);
        }
    }
    bits.put_unsigned(0, 6);  // end of shape
    body += bits.take();
    append_tag(tags_, tag_define_shape, body);
    return id;
}

std::uint16_t movie_writer::define_sprite(const timeline& sprite) {
    const std::uint16_t id = next_id_++;
    std::string body;
    put_u16(body, id);
    put_u16(body, static_cast<unsigned>(std::min(sprite.frames(), 0xFFFF)));
    body += sprite.tags();
    append_tag(body, tag_end, {});
    append_tag(tags_, tag_define_sprite, body);
    return id;
}

std::uint16_t movie_writer::define_tone(double hertz, double seconds) {
    constexpr int rate = 22050;
    const auto count = static_cast<std::uint32_t>(std::clamp(seconds, 0.0, 60.0) * rate);
    const std::uint16_t id = next_id_++;
    std::string body;
    put_u16(body, id);
    // Format 3 (uncompressed, little-endian), 22 kHz, 16-bit, mono.
    body.push_back(static_cast<char>((3 << 4) | (2 << 2) | (1 << 1)));
    put_u32(body, count);
    for (std::uint32_t i = 0; i < count; ++i)
        put_u16(body, static_cast<std::uint16_t>(static_cast<std::int16_t>(
                          std::lround(12000 * std::sin(2 * std::numbers::pi * hertz * i / rate)))));
    append_tag(tags_, tag_define_sound, body);
    return id;
}

std::string movie_writer::finish(bool compress) const {
    if (frames_ > 0xFFFF) return {};
    bit_writer frame_size;
    put_rect(frame_size, 0, stage_.width * 20, 0, stage_.height * 20);
    std::string body = frame_size.take();
    put_u16(body, static_cast<unsigned>(std::clamp(std::lround(stage_.frame_rate * 256), 1L, 0xFFFFL)));
    put_u16(body, static_cast<unsigned>(frames_));
    body += tags_;
    append_tag(body, tag_end, {});
    if (body.size() + 8 > max_movie_length) return {};

    std::string movie = compress ? "CWS" : "FWS";
    movie.push_back(static_cast<char>(stage_.version));
    put_u32(movie, static_cast<std::uint32_t>(body.size() + 8));
    if (!compress) return movie + body;

    uLongf packed_size = compressBound(static_cast<uLong>(body.size()));
    std::string packed(packed_size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size, reinterpret_cast<const Bytef*>(body.data()),
                  static_cast<uLong>(body.size()), Z_BEST_COMPRESSION) != Z_OK)
        return {};
    packed.resize(packed_size);
    return movie + packed;
}

// ---- demo movies --------------------------------------------------------------

namespace {

// Segments a..g as bits 0..6.
constexpr std::uint8_t seven_segments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// The lit segments of a digit as rectangles that only touch, never overlap:
// the horizontal bars sit between the vertical ones.
std::vector<outline> digit_outlines(int digit, int w, int h, int t) {
    const int half = h / 2;
    const outline segments[7] = {
        {outline::kind::rect, t, 0, w - 2 * t, t},             // a: top
        {outline::kind::rect, w - t, 0, t, half},              // b: upper right
        {outline::kind::rect, w - t, half, t, h - half},       // c: lower right
        {outline::kind::rect, t, h - t, w - 2 * t, t},         // d: bottom
        {outline::kind::rect, 0, half, t, h - half},           // e: lower left
        {outline::kind::rect, 0, 0, t, half},                  // f: upper left
        {outline::kind::rect, t, half - t / 2, w - 2 * t, t},  // g: middle
    };
    std::vector<outline> lit;
    for (int s = 0; s < 7; ++s)
        if (seven_segments[digit] & (1 << s)) lit.push_back(segments[s]);
    return lit;
}

std::string padded_number(int value, int width) {
    std::string text = std::to_string(value);
    return std::string(static_cast<std::size_t>(std::max<int>(0, width - static_cast<int>(text.size()))), '0') + text;
}

bool valid(const demo_movie& m) {
    const stage& s = m.look;
    auto fraction_ok = [](double v) { return std::isfinite(v) && v >= -1 && v <= 2; };
    for (const moving_shape& sh : m.shapes)
        if (!(sh.size > 0 && sh.size <= 1) || !fraction_ok(sh.from_x) || !fraction_ok(sh.from_y) ||
            !fraction_ok(sh.to_x) || !fraction_ok(sh.to_y))
            return false;
    return s.version >= 4 && s.version <= 10 && s.width >= 1 && s.width <= 2880 && s.height >= 1 && s.height <= 2880 &&
           std::isfinite(s.frame_rate) && s.frame_rate > 0 && s.frame_rate < 256 && m.frame_count >= 1 &&
           m.frame_count <= 0xFFFF && m.stop_frame >= -1 && m.stop_frame < m.frame_count &&
           m.own_trace.size() <= 1024 && m.own_trace.find('\0') == std::string::npos && m.shapes.size() <= 90;
}

}  // namespace

std::string make_demo_movie(const demo_movie& m) {
    if (!valid(m)) return {};
    movie_writer w(m.look);
    const int stage_w = m.look.width * 20, stage_h = m.look.height * 20;
    const int margin = std::max(100, stage_h / 40);

    // Depths: moving shapes 1..90, the sprite 99, counter digits from 100.
    std::vector<std::uint16_t> shape_ids;
    for (const moving_shape& sh : m.shapes) {
        const int side = std::max(40, static_cast<int>(std::lround(sh.size * stage_h)));
        outline o;
        o.type = sh.type;
        if (sh.type == outline::kind::circle) {
            o.width = side / 2;
        } else {
            o.x = o.y = -side / 2;
            o.width = o.height = side;
        }
        shape_ids.push_back(w.define_shape(sh.color, {o}));
    }

    constexpr std::uint16_t sprite_depth = 99;
    std::uint16_t sprite_id = 0;
    const int sprite_side = std::max(40, stage_h / 10);
    if (m.sprite) {
        const rgb colors[4] = {{250, 210, 0}, {250, 130, 0}, {200, 0, 160}, {0, 180, 200}};
        timeline blink;
        for (int f = 0; f < 4; ++f) {
            const std::uint16_t id = w.define_shape(colors[f], {{outline::kind::rect, 0, 0, sprite_side, sprite_side}});
            if (f == 0)
                blink.place(1, id, 0, 0);
            else
                blink.replace(1, id, 0, 0);
            blink.show_frame();
        }
        sprite_id = w.define_sprite(blink);
    }

    constexpr std::uint16_t counter_depth = 100;
    const int digits = static_cast<int>(std::to_string(m.frame_count - 1).size());
    const int digit_h = std::max(200, stage_h / 8);
    const int digit_w = digit_h / 2, digit_t = std::max(20, digit_h / 6), digit_gap = digit_h / 5;
    const rgb bg = m.look.background;
    const bool dark = 299 * bg.r + 587 * bg.g + 114 * bg.b < 128000;  // perceived brightness below half
    const rgb counter_color = m.counter_color.value_or(dark ? rgb{255, 255, 255} : rgb{0, 0, 0});
    std::uint16_t digit_ids[10] = {};
    if (m.counter)
        for (int d = 0; d < 10; ++d)
            digit_ids[d] = w.define_shape(counter_color, digit_outlines(d, digit_w, digit_h, digit_t));

    const int last = m.frame_count - 1;
    for (int f = 0; f < m.frame_count; ++f) {
        for (std::size_t i = 0; i < m.shapes.size(); ++i) {
            const moving_shape& sh = m.shapes[i];
            const double t = last > 0 ? static_cast<double>(f) / last : 0.0;
            const int x = static_cast<int>(std::lround((sh.from_x + (sh.to_x - sh.from_x) * t) * stage_w));
            const int y = static_cast<int>(std::lround((sh.from_y + (sh.to_y - sh.from_y) * t) * stage_h));
            const auto depth = static_cast<std::uint16_t>(1 + i);
            if (f == 0)
                w.place(depth, shape_ids[i], x, y);
            else
                w.move(depth, x, y);
        }
        if (m.sprite && f == 0) w.place(sprite_depth, sprite_id, stage_w - margin - sprite_side, margin);
        if (m.counter) {
            const std::string now = padded_number(f, digits);
            const std::string before = f > 0 ? padded_number(f - 1, digits) : std::string();
            for (int p = 0; p < digits; ++p) {
                const auto depth = static_cast<std::uint16_t>(counter_depth + p);
                const std::uint16_t id = digit_ids[now[p] - '0'];
                const int x = margin + p * (digit_w + digit_gap);
                if (f == 0)
                    w.place(depth, id, x, margin);
                else if (now[p] != before[p])
                    w.replace(depth, id, x, margin);
            }
        }
        if (!m.own_trace.empty()) w.trace(m.own_trace);
        if (f == m.stop_frame) w.stop();
        w.show_frame();
    }
    return w.finish(m.compress);
}

}  // namespace mirvo::swf
