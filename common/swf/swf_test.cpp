#include "common/swf/swf.h"

#include "common/swf/writer.h"

#include <gtest/gtest.h>
#include <lzma.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace mirvo::swf;

namespace {

// The checks below read movies with their own small parser, so a fault shared
// by the library's reader and writer cannot hide itself.

unsigned u16_at(const std::string& s, std::size_t pos) {
    return static_cast<unsigned char>(s[pos]) | (static_cast<unsigned char>(s[pos + 1]) << 8);
}

std::uint32_t u32_at(const std::string& s, std::size_t pos) {
    return u16_at(s, pos) | (static_cast<std::uint32_t>(u16_at(s, pos + 2)) << 16);
}

struct bit_reader {
    const std::string& data;
    std::size_t bit = 0;

    std::uint32_t ub(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) {
            if (bit / 8 >= data.size()) throw std::runtime_error("bits past the end");
            v = (v << 1) | ((static_cast<unsigned char>(data[bit / 8]) >> (7 - bit % 8)) & 1);
        }
        return v;
    }
    std::int32_t sb(int n) {
        const std::uint32_t v = ub(n);
        return n > 0 && (v >> (n - 1)) ? static_cast<std::int32_t>(v - (std::uint64_t{1} << n))
                                       : static_cast<std::int32_t>(v);
    }
    void align() { bit = (bit + 7) / 8 * 8; }
    std::size_t byte() const { return bit / 8; }
};

struct tag {
    int code;
    std::string raw;  // header and body as in the file
    std::string body;
};

// Tags from pos up to and including End; fails the test on any overrun.
std::vector<tag> parse_tags(const std::string& data, std::size_t pos) {
    std::vector<tag> tags;
    for (;;) {
        if (pos + 2 > data.size()) throw std::runtime_error("tag header past the end");
        const unsigned cl = u16_at(data, pos);
        std::size_t head = 2, len = cl & 0x3F;
        if (len == 0x3F) {
            len = u32_at(data, pos + 2);
            head = 6;
        }
        if (pos + head + len > data.size()) throw std::runtime_error("tag body past the end");
        tags.push_back({static_cast<int>(cl >> 6), data.substr(pos, head + len), data.substr(pos + head, len)});
        pos += head + len;
        if (tags.back().code == 0) return tags;
    }
}

// Uncompressed body of an FWS or CWS movie (after the 8-byte header).
std::string body_of(const std::string& movie) {
    if (movie[0] == 'F') return movie.substr(8);
    std::string out(u32_at(movie, 4) - 8, '\0');
    uLongf out_len = out.size();
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &out_len,
                         reinterpret_cast<const Bytef*>(movie.data() + 8), movie.size() - 8),
              Z_OK);
    out.resize(out_len);
    return out;
}

std::size_t tags_start(const std::string& body) {
    const int nbits = static_cast<unsigned char>(body[0]) >> 3;
    return (5 + 4 * nbits + 7) / 8 + 4;
}

// The traced text when the DoAction body is exactly push-string, trace, end.
std::optional<std::string> traced_text(const std::string& actions) {
    if (actions.size() < 7 || static_cast<unsigned char>(actions[0]) != 0x96 || actions[3] != 0) return std::nullopt;
    const std::size_t push_len = u16_at(actions, 1);
    if (push_len + 5 != actions.size() || actions[2 + push_len] != 0 ||
        static_cast<unsigned char>(actions[3 + push_len]) != 0x26 || actions[4 + push_len] != 0)
        return std::nullopt;
    return actions.substr(4, push_len - 2);
}

std::string to_zws(const std::string& fws, std::uint32_t dict_size_field = 0) {
    const std::string body = fws.substr(8);
    lzma_options_lzma opt;
    lzma_lzma_preset(&opt, 6);
    lzma_stream strm = LZMA_STREAM_INIT;
    EXPECT_EQ(lzma_alone_encoder(&strm, &opt), LZMA_OK);
    std::string alone(body.size() + 4096, '\0');
    strm.next_in = reinterpret_cast<const std::uint8_t*>(body.data());
    strm.avail_in = body.size();
    strm.next_out = reinterpret_cast<std::uint8_t*>(alone.data());
    strm.avail_out = alone.size();
    EXPECT_EQ(lzma_code(&strm, LZMA_FINISH), LZMA_STREAM_END);
    alone.resize(alone.size() - strm.avail_out);
    lzma_end(&strm);

    // .lzma files: 5 bytes of properties, 8 of size, data. ZWS keeps the
    // properties, drops the size and puts the data length in front.
    std::string props = alone.substr(0, 5);
    if (dict_size_field)
        for (int i = 0; i < 4; ++i) props[1 + i] = static_cast<char>(dict_size_field >> (8 * i));
    const std::string data = alone.substr(13);
    std::string zws = "ZWS" + fws.substr(3, 5);
    for (int i = 0; i < 4; ++i) zws.push_back(static_cast<char>(data.size() >> (8 * i)));
    return zws + props + data;
}

demo_movie sample(int version, bool compress) {
    demo_movie m;
    m.look.version = version;
    m.look.width = 640;
    m.look.height = 360;
    m.look.frame_rate = 12.5;
    m.look.background = {10, 20, 30};
    m.frame_count = 30;
    m.compress = compress;
    m.stop_frame = 29;
    m.own_trace = "lesson says hello";
    return m;
}

const std::string prefix = "@mirvo:";

}  // namespace

TEST(SwfHeader, ReadsWhatTheWriterWrote) {
    for (const int version : {6, 10})
        for (const bool compress : {false, true}) {
            SCOPED_TRACE(testing::Message() << "version " << version << " compress " << compress);
            const std::string movie = make_demo_movie(sample(version, compress));
            ASSERT_FALSE(movie.empty());
            EXPECT_EQ(movie.substr(0, 3), compress ? "CWS" : "FWS");
            const auto h = read_header(movie);
            ASSERT_TRUE(h);
            EXPECT_EQ(h->kind, compress ? compression::zlib : compression::none);
            EXPECT_EQ(h->version, version);
            EXPECT_EQ(h->file_length, body_of(movie).size() + 8);
            if (!compress) {
                EXPECT_EQ(h->file_length, movie.size());
            }
            EXPECT_EQ(h->frame_count, 30);
            EXPECT_DOUBLE_EQ(h->frame_rate, 12.5);
            EXPECT_EQ(h->width_twips, 640 * 20);
            EXPECT_EQ(h->height_twips, 360 * 20);
            EXPECT_FALSE(h->avm2);
        }
}

TEST(SwfHeader, StageSizeComesFromTheWholeRect) {
    auto movie_with_rect = [](int xmin, int xmax, int ymin, int ymax) {
        bit_writer bits;
        const int n = bit_writer::signed_bits({xmin, xmax, ymin, ymax});
        bits.put_unsigned(static_cast<std::uint32_t>(n), 5);
        for (const int v : {xmin, xmax, ymin, ymax}) bits.put_signed(v, n);
        std::string body = bits.take() + std::string("\x80\x18\x01\x00\x40\x00\x00\x00", 8);
        std::string movie = "FWS" + std::string(1, char(6));
        for (int i = 0; i < 4; ++i) movie.push_back(static_cast<char>((body.size() + 8) >> (8 * i)));
        return movie + body;
    };
    const auto offset = read_header(movie_with_rect(-200, 1000, -300, 500));
    ASSERT_TRUE(offset);
    EXPECT_EQ(offset->width_twips, 1200);
    EXPECT_EQ(offset->height_twips, 800);
    EXPECT_DOUBLE_EQ(offset->frame_rate, 24.5);
    EXPECT_EQ(offset->frame_count, 1);
    const auto inverted = read_header(movie_with_rect(1000, -200, 0, 20));
    ASSERT_TRUE(inverted);
    EXPECT_EQ(inverted->width_twips, 0);

    // One ShowFrame, then End: one marker.
    const auto marked = insert_frame_markers(movie_with_rect(-200, 1000, -300, 500), prefix);
    ASSERT_TRUE(marked);
    EXPECT_NE(marked->find(prefix + "0"), std::string::npos);
}

TEST(SwfHeader, ActionScript3MoviesAreRecognisedAndNotRewritten) {
    demo_movie m = sample(10, false);
    std::string movie = make_demo_movie(m);
    const std::size_t first_tag = 8 + tags_start(movie.substr(8));
    ASSERT_EQ(u16_at(movie, first_tag) >> 6, 69u) << "version 10 movies start with FileAttributes";
    movie[first_tag + 2] = static_cast<char>(movie[first_tag + 2] | 0x08);
    const auto h = read_header(movie);
    ASSERT_TRUE(h);
    EXPECT_TRUE(h->avm2);
    EXPECT_FALSE(insert_frame_markers(movie, prefix));

    // Version 6 has no FileAttributes; a shape tag in first place is AVM1.
    EXPECT_FALSE(read_header(make_demo_movie(sample(6, false)))->avm2);
}

TEST(SwfMarkers, MarkEveryRootFrameAndLeaveTheRestAlone) {
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "CWS" : "FWS");
        const std::string movie = make_demo_movie(sample(8, compress));
        const auto out = insert_frame_markers(movie, prefix);
        ASSERT_TRUE(out);
        ASSERT_EQ(out->substr(0, 4), std::string("FWS") + char(8));
        EXPECT_EQ(u32_at(*out, 4), out->size());

        const std::string in_body = body_of(movie);
        const std::string out_body = out->substr(8);
        const std::size_t start = tags_start(in_body);
        EXPECT_EQ(out_body.substr(0, start), in_body.substr(0, start)) << "stage, rate and count kept";
        const std::vector<tag> in_tags = parse_tags(in_body, start);
        const std::vector<tag> out_tags = parse_tags(out_body, start);

        // Every root ShowFrame is preceded by exactly one marker, numbered in
        // root order; removing the markers gives back the original tags.
        std::vector<tag> unmarked;
        int next_index = 0, own_traces = 0, sprites = 0;
        for (std::size_t i = 0; i < out_tags.size(); ++i) {
            const tag& t = out_tags[i];
            const auto text = t.code == 12 ? traced_text(t.body) : std::nullopt;
            if (text && text->rfind(prefix, 0) == 0) {
                EXPECT_EQ(*text, prefix + std::to_string(next_index));
                ++next_index;
                ASSERT_LT(i + 1, out_tags.size());
                EXPECT_EQ(out_tags[i + 1].code, 1) << "marker right before ShowFrame";
                continue;
            }
            if (t.code == 1) {
                EXPECT_TRUE(i > 0 && out_tags[i - 1].code == 12) << "ShowFrame without marker";
            }
            own_traces += text == "lesson says hello";
            sprites += t.code == 39;
            unmarked.push_back(t);
        }
        EXPECT_EQ(next_index, 30);
        EXPECT_EQ(own_traces, 30) << "the movie's own traces stay";
        EXPECT_EQ(sprites, 1);
        ASSERT_EQ(unmarked.size(), in_tags.size());
        for (std::size_t i = 0; i < in_tags.size(); ++i) EXPECT_EQ(unmarked[i].raw, in_tags[i].raw) << "tag " << i;

        // The sprite keeps its own four frames and gets no markers.
        for (const tag& t : out_tags)
            if (t.code == 39) {
                const std::vector<tag> inner = parse_tags(t.body, 4);
                int inner_frames = 0;
                for (const tag& it : inner) {
                    inner_frames += it.code == 1;
                    EXPECT_NE(it.code, 12);
                }
                EXPECT_EQ(inner_frames, 4);
                EXPECT_EQ(u16_at(t.body, 2), 4u);
            }

        const auto h = read_header(*out);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->frame_count, 30);
        EXPECT_EQ(h->kind, compression::none);
    }
}

TEST(SwfMarkers, LongPrefixesUseLongTagHeadersAndBadPrefixesAreRefused) {
    const std::string movie = make_demo_movie(sample(7, false));
    const std::string long_prefix(200, 'p');
    const auto out = insert_frame_markers(movie, long_prefix);
    ASSERT_TRUE(out);
    const std::string body = out->substr(8);
    int markers = 0;
    for (const tag& t : parse_tags(body, tags_start(body)))
        if (t.code == 12 && traced_text(t.body) == long_prefix + std::to_string(markers)) {
            EXPECT_EQ(t.raw.size(), t.body.size() + 6);
            ++markers;
        }
    EXPECT_EQ(markers, 30);

    EXPECT_FALSE(insert_frame_markers(movie, std::string("a\0b", 3)));
    EXPECT_FALSE(insert_frame_markers(movie, std::string(1025, 'p')));
    EXPECT_TRUE(insert_frame_markers(movie, std::string(1024, 'p')));
}

TEST(SwfMarkers, LzmaMoviesReadAndRewriteLikeTheirUncompressedForm) {
    const std::string fws = make_demo_movie(sample(10, false));
    const auto expected = insert_frame_markers(fws, prefix);
    ASSERT_TRUE(expected);
    // The second one claims a 4 GB dictionary: it must still decode without
    // allocating it.
    for (const std::uint32_t dict : {0u, 0xFFFFFFFFu}) {
        const std::string zws = to_zws(fws, dict);
        const auto h = read_header(zws);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->kind, compression::lzma);
        EXPECT_EQ(h->file_length, fws.size());
        EXPECT_EQ(h->frame_count, 30);
        EXPECT_EQ(h->width_twips, 640 * 20);
        const auto out = insert_frame_markers(zws, prefix);
        ASSERT_TRUE(out);
        EXPECT_EQ(*out, *expected);
        EXPECT_FALSE(insert_frame_markers(zws.substr(0, zws.size() / 2), prefix));
    }
}

TEST(SwfRobustness, TruncationsNeverYieldAnotherMovie) {
    std::mt19937 rng(7);
    for (const bool compress : {false, true}) {
        const std::string movie = make_demo_movie(sample(9, compress));
        const auto full_header = read_header(movie);
        const auto full_out = insert_frame_markers(movie, prefix);
        ASSERT_TRUE(full_header && full_out);
        std::vector<std::size_t> cuts;
        for (std::size_t n = 0; n < 64; ++n) cuts.push_back(n);
        for (int i = 0; i < 300; ++i)
            cuts.push_back(std::uniform_int_distribution<std::size_t>(0, movie.size() - 1)(rng));
        int rewritten = 0;
        for (const std::size_t n : cuts) {
            const std::string cut = movie.substr(0, n);
            const auto h = read_header(cut);
            if (h) {
                EXPECT_EQ(h->frame_count, full_header->frame_count);
                EXPECT_EQ(h->width_twips, full_header->width_twips);
                EXPECT_EQ(h->avm2, false);
            }
            const auto out = insert_frame_markers(cut, prefix);
            if (out) {
                // Only a CWS movie missing the tail of its checksum still holds
                // the whole body.
                EXPECT_TRUE(compress && n + 8 >= movie.size()) << n;
                EXPECT_EQ(*out, *full_out);
                ++rewritten;
            }
        }
        EXPECT_LE(rewritten, 8);
    }
}

TEST(SwfRobustness, GarbageAndHostileFieldsAreRefused) {
    const std::string movie = make_demo_movie(sample(8, false));
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255);

    // Random flips of single bytes: either refused or a consistent movie.
    for (int i = 0; i < 400; ++i) {
        std::string bent = movie;
        const std::size_t at = std::uniform_int_distribution<std::size_t>(0, bent.size() - 1)(rng);
        bent[at] = static_cast<char>(byte(rng));
        const auto out = insert_frame_markers(bent, prefix);
        if (out) {
            EXPECT_EQ(u32_at(*out, 4), out->size());
            EXPECT_TRUE(read_header(*out));
        }
    }
    // Random bodies behind each signature.
    for (const char* sig : {"FWS", "CWS", "ZWS"})
        for (int i = 0; i < 100; ++i) {
            std::string junk = std::string(sig) + char(10);
            const int len = std::uniform_int_distribution<int>(0, 300)(rng);
            for (int k = 0; k < len; ++k) junk.push_back(static_cast<char>(byte(rng)));
            read_header(junk);
            insert_frame_markers(junk, prefix);
        }

    auto with_length = [&](std::uint32_t length) {
        std::string m = movie;
        for (int i = 0; i < 4; ++i) m[4 + i] = static_cast<char>(length >> (8 * i));
        return m;
    };
    EXPECT_FALSE(read_header(with_length(7)));
    EXPECT_FALSE(read_header(with_length((64u << 20) + 1)));
    EXPECT_FALSE(insert_frame_markers(with_length(static_cast<std::uint32_t>(movie.size() + 1)), prefix));
    EXPECT_FALSE(insert_frame_markers(with_length(static_cast<std::uint32_t>(movie.size() - 1)), prefix));

    // A tag whose long length runs past the movie.
    std::string overrun = movie;
    const std::size_t first_tag = 8 + tags_start(movie.substr(8));
    const std::string long_head = {char(0x3F), char(0x0A), char(0xF0), char(0xFF), char(0xFF), char(0x7F)};
    overrun.replace(first_tag, 0, long_head);
    for (int i = 0; i < 4; ++i) overrun[4 + i] = static_cast<char>(overrun.size() >> (8 * i));
    EXPECT_FALSE(insert_frame_markers(overrun, prefix));

    // A stream that inflates to far more than the header declares: decoding
    // stops at the declared length, so the extra never reaches memory.
    std::string stuffed_body = movie.substr(8) + std::string(8u << 20, '\0');
    uLongf packed_len = compressBound(stuffed_body.size());
    std::string packed(packed_len, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_len,
                        reinterpret_cast<const Bytef*>(stuffed_body.data()), stuffed_body.size(), 1),
              Z_OK);
    packed.resize(packed_len);
    const std::string stuffed = "CWS" + movie.substr(3, 5) + packed;
    EXPECT_EQ(insert_frame_markers(stuffed, prefix), insert_frame_markers(movie, prefix));

    EXPECT_FALSE(read_header(""));
    EXPECT_FALSE(read_header("GIF89a..."));
}

namespace {

struct shape_check {
    int paths = 0;
    bool closed = true, inside = true;
};

// Walks a DefineShape's records, following the pen: every path must end where
// it began and stay within the declared bounds.
shape_check walk_shape(const std::string& body) {
    bit_reader r{body, 16};  // after the character id
    const int nb = static_cast<int>(r.ub(5));
    const int xmin = r.sb(nb), xmax = r.sb(nb), ymin = r.sb(nb), ymax = r.sb(nb);
    r.align();
    std::size_t pos = r.byte();
    EXPECT_EQ(body[pos], 1) << "one fill style";
    EXPECT_EQ(body[pos + 1], 0) << "solid";
    EXPECT_EQ(body[pos + 5], 0) << "no line styles";
    r.bit = (pos + 6) * 8;
    const int fill_bits = static_cast<int>(r.ub(4)), line_bits = static_cast<int>(r.ub(4));
    shape_check c;
    int x = 0, y = 0, sx = 0, sy = 0;
    auto visit = [&](int px, int py) { c.inside = c.inside && px >= xmin && px <= xmax && py >= ymin && py <= ymax; };
    for (;;) {
        if (r.ub(1) == 0) {
            const std::uint32_t flags = r.ub(5);
            if (flags == 0) break;
            if (c.paths > 0) c.closed = c.closed && x == sx && y == sy;
            EXPECT_EQ(flags & 0x10, 0u) << "no new styles";
            if (flags & 0x01) {
                const int n = static_cast<int>(r.ub(5));
                x = sx = r.sb(n);
                y = sy = r.sb(n);
                visit(x, y);
                ++c.paths;
            }
            if (flags & 0x02) r.ub(fill_bits);
            if (flags & 0x04) {
                EXPECT_EQ(r.ub(fill_bits), 1u);
            }
            if (flags & 0x08) r.ub(line_bits);
        } else if (r.ub(1) == 1) {
            const int n = static_cast<int>(r.ub(4)) + 2;
            if (r.ub(1)) {
                x += r.sb(n);
                y += r.sb(n);
            } else if (r.ub(1)) {
                y += r.sb(n);
            } else {
                x += r.sb(n);
            }
            visit(x, y);
        } else {
            const int n = static_cast<int>(r.ub(4)) + 2;
            x += r.sb(n);
            y += r.sb(n);
            visit(x, y);
            x += r.sb(n);
            y += r.sb(n);
            visit(x, y);
        }
    }
    c.closed = c.closed && x == sx && y == sy;
    r.align();
    EXPECT_EQ(r.byte(), body.size()) << "records fill the tag exactly";
    return c;
}

}  // namespace

TEST(SwfWriter, ShapesAreClosedInsideTheirBoundsAndShapesEndWhereAsked) {
    demo_movie m = sample(8, false);
    m.look.width = 2880;  // long edges and wide moves exercise the field widths
    m.look.height = 2880;
    m.shapes.push_back({outline::kind::circle, {1, 2, 3}, 1.0, 0.0, 0.0, 1.0, 1.0});
    const std::string movie = make_demo_movie(m);
    ASSERT_FALSE(movie.empty());
    const std::string body = movie.substr(8);
    int shapes = 0;
    std::map<int, std::pair<int, int>> last_place;  // depth -> translation
    for (const tag& t : parse_tags(body, tags_start(body))) {
        if (t.code == 2) {
            const shape_check c = walk_shape(t.body);
            EXPECT_TRUE(c.closed) << "shape " << shapes;
            EXPECT_TRUE(c.inside) << "shape " << shapes;
            EXPECT_GE(c.paths, 1);
            ++shapes;
        }
        if (t.code == 26) {
            bit_reader r{t.body, 0};
            const unsigned flags = r.ub(8);
            const int depth = static_cast<int>(u16_at(t.body, 1));
            r.bit = (flags & 0x02) ? 40 : 24;
            ASSERT_TRUE(flags & 0x04);
            ASSERT_EQ(r.ub(1), 0u);
            ASSERT_EQ(r.ub(1), 0u);
            const int n = static_cast<int>(r.ub(5));
            const int x = r.sb(n), y = r.sb(n);
            r.align();
            EXPECT_EQ(r.byte(), t.body.size());
            last_place[depth] = {x, y};
        }
    }
    // 3 + 1 moving shapes, 4 sprite frames, 10 digits.
    EXPECT_EQ(shapes, 18);
    const int w = 2880 * 20, h = 2880 * 20;
    EXPECT_EQ(last_place[1],
              std::make_pair(static_cast<int>(std::lround(0.85 * w)), static_cast<int>(std::lround(0.55 * h))));
    EXPECT_EQ(last_place[4], std::make_pair(w, h));
    EXPECT_EQ(last_place[100].second, last_place[101].second) << "counter digits on one line";

    // Edges longer than one edge record can carry are split, still closed.
    movie_writer big(stage{});
    big.define_shape({0, 0, 0}, {{outline::kind::rect, -100000, -90000, 200000, 180000},
                                 {outline::kind::circle, 300000, 0, 140000, 0}});
    big.show_frame();
    const std::string big_body = big.finish(false).substr(8);
    for (const tag& t : parse_tags(big_body, tags_start(big_body)))
        if (t.code == 2) {
            const shape_check c = walk_shape(t.body);
            EXPECT_TRUE(c.closed && c.inside);
            EXPECT_EQ(c.paths, 2);
        }
}

TEST(SwfWriter, StopActionSitsOnTheChosenFrameOnly) {
    for (const int stop : {-1, 12, 29}) {
        demo_movie m = sample(8, false);
        m.stop_frame = stop;
        const std::string body = make_demo_movie(m).substr(8);
        std::vector<int> stop_frames;
        int frame = 0;
        for (const tag& t : parse_tags(body, tags_start(body))) {
            if (t.code == 12 && t.body == std::string("\x07\0", 2)) stop_frames.push_back(frame);
            frame += t.code == 1;
        }
        EXPECT_EQ(stop_frames, stop < 0 ? std::vector<int>{} : std::vector<int>{stop});
    }
}

TEST(SwfWriter, CounterStandsOutFromTheBackground) {
    for (const bool dark : {true, false}) {
        demo_movie m = sample(8, false);
        m.look.background = dark ? rgb{20, 30, 60} : rgb{250, 250, 200};
        m.shapes.clear();
        m.sprite = false;
        const std::string body = make_demo_movie(m).substr(8);
        int digits = 0;
        for (const tag& t : parse_tags(body, tags_start(body)))
            if (t.code == 2) {
                bit_reader r{t.body, 16};
                r.bit += 5 + 4 * r.ub(5);
                r.align();
                const std::string fill = t.body.substr(r.byte() + 2, 3);
                EXPECT_EQ(fill, dark ? std::string("\xFF\xFF\xFF") : std::string(3, '\0'));
                ++digits;
            }
        EXPECT_EQ(digits, 10);
    }
}

TEST(SwfWriter, BitFieldsRoundTripAtTheirWidthLimits) {
    const std::vector<std::int32_t> values = {0,    -1,    1,     -2,    2,      3,     -4,         1023,
                                              1024, -1024, -1025, 65535, -65536, 65536, 0x3FFFFFFF, -0x40000000};
    bit_writer w;
    for (const std::int32_t v : values) {
        const int n = bit_writer::signed_bits({v});
        w.put_unsigned(static_cast<std::uint32_t>(n), 5);
        w.put_signed(v, n);
        w.put_unsigned(1, 1);  // keeps the fields off byte boundaries
    }
    const std::string packed = w.take();
    bit_reader r{packed, 0};
    for (const std::int32_t v : values) {
        const int n = static_cast<int>(r.ub(5));
        EXPECT_EQ(r.sb(n), v) << "in " << n << " bits";
        EXPECT_EQ(r.ub(1), 1u);
    }
    EXPECT_EQ(bit_writer::signed_bits({1024}), 12);
    EXPECT_EQ(bit_writer::signed_bits({-1024}), 11);
    EXPECT_EQ(bit_writer::signed_bits({0, -1}), 1);
    EXPECT_EQ(bit_writer::unsigned_bits(31), 5);
    EXPECT_EQ(bit_writer::unsigned_bits(32), 6);
}

TEST(SwfWriter, OutOfRangeValuesGiveNoMovie) {
    auto with = [](auto change) {
        demo_movie m;
        change(m);
        return make_demo_movie(m);
    };
    EXPECT_FALSE(with([](demo_movie&) {}).empty());
    EXPECT_TRUE(with([](demo_movie& m) { m.frame_count = 0; }).empty());
    EXPECT_TRUE(with([](demo_movie& m) { m.frame_count = 65536; }).empty());
    EXPECT_TRUE(with([](demo_movie& m) { m.stop_frame = m.frame_count; }).empty());
    EXPECT_TRUE(with([](demo_movie& m) { m.look.version = 11; }).empty());
    EXPECT_TRUE(with([](demo_movie& m) { m.look.frame_rate = 0; }).empty());
    EXPECT_TRUE(with([](demo_movie& m) { m.look.width = 2881; }).empty());
}
