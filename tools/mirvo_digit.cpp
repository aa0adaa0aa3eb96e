// mirvo-digit: the client's and the updater's digit codes on the command
// line, for operators, for the reference service's content and for the build,
// which stores the deployment constants coded with them.
//
//   mirvo-digit encode TEXT          prints the coded digits of TEXT
//   mirvo-digit decode DIGITS        prints the text DIGITS stand for
//   mirvo-digit resources OUT ID[,ID...]=TEXT ...
//                                    writes the C++ source of
//                                    coded_constant_text(): each TEXT coded
//                                    and split over its ids at random places
//   mirvo-digit updater-encode TEXT  the same two in the updater's code
//   mirvo-digit updater-decode DIGITS
//   mirvo-digit updater-fragments OUT TEXT TEXT
//                                    writes the C++ source of the updater's
//                                    two sets of coded server fragments: each
//                                    TEXT coded and cut into three pieces
//
// Texts on the command line and on output are UTF-8; the code works on GBK.
#include "common/protocol/digit_code.h"
#include "common/protocol/updater_code.h"
#include "common/text/gbk.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fputs(
        "usage: mirvo-digit encode TEXT\n"
        "       mirvo-digit decode DIGITS\n"
        "       mirvo-digit resources OUT.cpp ID[,ID...]=TEXT ...\n"
        "       mirvo-digit updater-encode TEXT\n"
        "       mirvo-digit updater-decode DIGITS\n"
        "       mirvo-digit updater-fragments OUT.cpp TEXT TEXT\n",
        stderr);
    return 2;
}

struct resource_value {
    std::vector<int> ids;
    std::string text;  // UTF-8 as given
};

bool parse_ids(const std::string& list, std::vector<int>& ids) {
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos || item.size() > 6) return false;
        ids.push_back(std::stoi(item));
    }
    return !ids.empty();
}

// Cuts coded into ids.size() non-empty pieces at random places.
std::vector<std::string> split_randomly(const std::string& coded, std::size_t pieces, std::mt19937& rng) {
    std::vector<std::size_t> cuts;
    std::uniform_int_distribution<std::size_t> pick(1, coded.size() - 1);
    while (cuts.size() + 1 < pieces) {
        const std::size_t c = pick(rng);
        bool taken = false;
        for (std::size_t x : cuts) taken = taken || x == c;
        if (!taken) cuts.push_back(c);
    }
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t c : cuts) {
        out.push_back(coded.substr(from, c - from));
        from = c;
    }
    out.push_back(coded.substr(from));
    return out;
}

bool write_source(const std::string& out_path, const std::string& source) {
    std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
    out << source;
    out.close();
    if (!out) std::fprintf(stderr, "mirvo-digit: cannot write %s\n", out_path.c_str());
    return bool(out);
}

int write_resources(const std::string& out_path, const std::vector<std::string>& args) {
    std::vector<resource_value> values;
    for (const std::string& a : args) {
        const std::size_t eq = a.find('=');
        resource_value v;
        if (eq == std::string::npos || !parse_ids(a.substr(0, eq), v.ids)) {
            std::fprintf(stderr, "mirvo-digit: expected ID[,ID...]=TEXT, got \"%s\"\n", a.c_str());
            return 2;
        }
        v.text = a.substr(eq + 1);
        values.push_back(std::move(v));
    }

    std::random_device seed;
    std::mt19937 rng(seed());
    std::string source =
        "// Written by mirvo-digit from the configured deployment values; the\n"
        "// coding is random, so every build writes other digits for the same values.\n"
        "#include \"client/res/coded_resources.h\"\n\n"
        "namespace mirvo {\n\n"
        "std::string coded_constant_text(int id) {\n"
        "    switch (id) {\n";
    for (const resource_value& v : values) {
        const std::string plain = mirvo::utf8_to_gbk(v.text);
        const std::string coded = mirvo::digit_encode(plain);
        // A value the code cannot carry (upper case, "_", "~", non-ASCII,
        // more than 333 bytes) would decode to something else at run time.
        if (mirvo::digit_decode(coded) != plain) {
            std::fprintf(stderr,
                         "mirvo-digit: \"%s\" does not survive the digit code (use lower-case letters, "
                         "digits, blanks and the table's punctuation; no \"_\" or \"~\"; at most 333 bytes)\n",
                         v.text.c_str());
            return 1;
        }
        // Every id gets a non-empty piece, so the coded form needs a digit
        // for each of them.
        if (coded.size() < v.ids.size()) {
            std::fprintf(stderr,
                         "mirvo-digit: \"%s\" codes to %zu digits, too few to split over its %zu ids; "
                         "give it fewer ids or a longer value\n",
                         v.text.c_str(), coded.size(), v.ids.size());
            return 1;
        }
        const std::vector<std::string> pieces = split_randomly(coded, v.ids.size(), rng);
        for (std::size_t i = 0; i < pieces.size(); ++i)
            source += "    case " + std::to_string(v.ids[i]) + ": return \"" + pieces[i] + "\";\n";
    }
    source += "    default: return {};\n    }\n}\n\n}  // namespace mirvo\n";

    return write_source(out_path, source) ? 0 : 1;
}

// The updater's code only knows printable ASCII; anything else is refused
// with the place where it stands.
int updater_code(const std::string& text, std::string_view mode) {
    const mirvo::updater_code_result r = mirvo::updater_digit_code(text, mode);
    if (!r.ok()) {
        std::fprintf(stderr, "mirvo-digit: the updater's code cannot %s byte %zu of \"%s\"\n",
                     mode == mirvo::updater_encrypt_mode ? "encode" : "decode the group at", r.fault, text.c_str());
        return 1;
    }
    std::printf("%s\n", r.text.c_str());
    return 0;
}

int write_updater_fragments(const std::string& out_path, const std::vector<std::string>& texts) {
    std::random_device seed;
    std::mt19937 rng(seed());
    std::string source =
        "// Written by mirvo-digit from the configured deployment values: the\n"
        "// updater's two sets of coded server fragments, cut at random places.\n"
        "#include \"updater/probe.h\"\n\n"
        "namespace mirvo {\n\n"
        "coded_fragment_sets configured_coded_fragments() {\n"
        "    return {{\n";
    for (const std::string& text : texts) {
        const mirvo::updater_code_result coded = mirvo::updater_digit_code(text, mirvo::updater_encrypt_mode);
        if (!coded.ok()) {
            std::fprintf(stderr, "mirvo-digit: byte %zu of \"%s\" is not in the updater's table\n", coded.fault,
                         text.c_str());
            return 1;
        }
        if (coded.text.size() < 3) {
            std::fprintf(stderr, "mirvo-digit: \"%s\" is too short to cut into three pieces\n", text.c_str());
            return 1;
        }
        source += "        {";
        const std::vector<std::string> pieces = split_randomly(coded.text, 3, rng);
        for (std::size_t i = 0; i < pieces.size(); ++i) source += (i ? ", \"" : "\"") + pieces[i] + "\"";
        source += "},\n";
    }
    source += "    }};\n}\n\n}  // namespace mirvo\n";
    return write_source(out_path, source) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1];
    if (command == "encode" && argc == 3) {
        std::printf("%s\n", mirvo::digit_encode(mirvo::utf8_to_gbk(argv[2])).c_str());
        return 0;
    }
    if (command == "decode" && argc == 3) {
        std::printf("%s\n", mirvo::gbk_to_utf8(mirvo::digit_decode(argv[2])).c_str());
        return 0;
    }
    if ((command == "updater-encode" || command == "updater-decode") && argc == 3)
        return updater_code(argv[2],
                            command == "updater-encode" ? mirvo::updater_encrypt_mode : mirvo::updater_decrypt_mode);
    if (command == "updater-fragments" && argc == 5) return write_updater_fragments(argv[2], {argv[3], argv[4]});
    if (command == "resources" && argc >= 4)
        return write_resources(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    return usage();
}
