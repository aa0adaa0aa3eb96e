// mirvo-makeswf: writes a demo movie for scripts and test fixtures, or prints
// the header of an existing movie.
//
//   mirvo-makeswf -o FILE [--version N] [--size WxH] [--rate FPS] [--frames N]
//                 [--background RRGGBB] [--stop-at N | --stop-last] [--trace TEXT]
//                 [--compress] [--no-counter] [--no-sprite]
//   mirvo-makeswf --info FILE
//
// Without a stop option the movie loops. File names are native paths as the
// shell passes them, so plain streams are used rather than the GBK path helpers.
#include "common/swf/swf.h"
#include "common/swf/writer.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

int usage() {
    std::fputs(
        "usage: mirvo-makeswf -o FILE [--version N] [--size WxH] [--rate FPS] [--frames N]\n"
        "                     [--background RRGGBB] [--stop-at N | --stop-last] [--trace TEXT]\n"
        "                     [--compress] [--no-counter] [--no-sprite]\n"
        "       mirvo-makeswf --info FILE\n",
        stderr);
    return 2;
}

bool to_int(const std::string& text, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < -1000000 || v > 1000000) return false;
    value = static_cast<int>(v);
    return true;
}

int show_info(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto h = mirvo::swf::read_header(bytes);
    if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "mirvo-makeswf: cannot read %s\n", path.c_str());
        return 1;
    }
    if (!h) {
        std::fprintf(stderr, "mirvo-makeswf: %s is not a readable movie\n", path.c_str());
        return 1;
    }
    const char* kind = h->kind == mirvo::swf::compression::zlib   ? "CWS"
                       : h->kind == mirvo::swf::compression::lzma ? "ZWS"
                                                                  : "FWS";
    std::printf("%s version %d length %u frames %d rate %.4g size %dx%d %s\n", kind, h->version, h->file_length,
                h->frame_count, h->frame_rate, h->width_twips / 20, h->height_twips / 20, h->avm2 ? "AS3" : "AS1/2");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    mirvo::swf::demo_movie movie;
    std::string out_path;
    bool stop_last = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        const std::string value = has_value ? argv[i + 1] : "";
        if (arg == "--info" && has_value) return show_info(value);
        if (arg == "-o" && has_value) {
            out_path = value;
        } else if (arg == "--version" && has_value) {
            if (!to_int(value, movie.look.version)) return usage();
        } else if (arg == "--size" && has_value) {
            const auto x = value.find('x');
            if (x == std::string::npos || !to_int(value.substr(0, x), movie.look.width) ||
                !to_int(value.substr(x + 1), movie.look.height))
                return usage();
        } else if (arg == "--rate" && has_value) {
            char* end = nullptr;
            movie.look.frame_rate = std::strtod(value.c_str(), &end);
            if (*end != '\0') return usage();
        } else if (arg == "--frames" && has_value) {
            if (!to_int(value, movie.frame_count)) return usage();
        } else if (arg == "--background" && has_value) {
            char* end = nullptr;
            const unsigned long rgb = std::strtoul(value.c_str(), &end, 16);
            if (value.size() != 6 || *end != '\0') return usage();
            movie.look.background = {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                                     static_cast<std::uint8_t>(rgb)};
        } else if (arg == "--stop-at" && has_value) {
            if (!to_int(value, movie.stop_frame)) return usage();
        } else if (arg == "--trace" && has_value) {
            movie.own_trace = value;
        } else if (arg == "--stop-last") {
            stop_last = true;
            continue;
        } else if (arg == "--compress") {
            movie.compress = true;
            continue;
        } else if (arg == "--no-counter") {
            movie.counter = false;
            continue;
        } else if (arg == "--no-sprite") {
            movie.sprite = false;
            continue;
        } else {
            return usage();
        }
        ++i;  // the option's value
    }
    if (out_path.empty()) return usage();
    if (stop_last) movie.stop_frame = movie.frame_count - 1;

    const std::string bytes = mirvo::swf::make_demo_movie(movie);
    if (bytes.empty()) {
        std::fputs(
            "mirvo-makeswf: a value is out of range (version 4-10, size 1-2880, rate 0-256, "
            "frames 1-65535, stop frame inside the movie)\n",
            stderr);
        return 2;
    }
    std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "mirvo-makeswf: cannot write %s\n", out_path.c_str());
        return 1;
    }
    return 0;
}
