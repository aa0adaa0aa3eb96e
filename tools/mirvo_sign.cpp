// mirvo-sign: the keys and signatures of download lists, for operators and
// for the build, which compiles the configured public key into the client
// and the updater.
//
//   mirvo-sign keygen PRIVATE_KEY_FILE [PUBLIC_KEY_FILE]
//                          makes a key pair: the private key into a new file
//                          readable by its owner only, the public key printed
//                          (and written to PUBLIC_KEY_FILE when given); that
//                          is the value of MIRVO_UPDATE_PUBLIC_KEY
//   mirvo-sign public-key PRIVATE_KEY_FILE
//                          prints the public key of a private key
//   mirvo-sign sign PRIVATE_KEY_FILE LIST...
//                          writes LIST.sig beside each list
//   mirvo-sign verify PUBLIC_KEY LIST...
//                          checks each list against LIST.sig; PUBLIC_KEY is
//                          the key's 64 digits or a file holding them
//   mirvo-sign sha256 FILE...
//                          prints the digest a list's sha256 attribute holds
//   mirvo-sign configured-key OUT.cpp VALUE DEMO_KEY_FOLDER
//                          (the build) writes the C++ source of
//                          configured_update_key() for VALUE: 64 digits, empty
//                          for none, or "demo" for the build folder's own demo
//                          key, made in DEMO_KEY_FOLDER when it is not there
//
// Paths are native. Key files hold the key's 64 hexadecimal digits; lines
// beginning with "#" are notes.
#include "common/sign/sign.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

int usage() {
    std::fputs(
        "usage: mirvo-sign keygen PRIVATE_KEY_FILE [PUBLIC_KEY_FILE]\n"
        "       mirvo-sign public-key PRIVATE_KEY_FILE\n"
        "       mirvo-sign sign PRIVATE_KEY_FILE LIST...\n"
        "       mirvo-sign verify PUBLIC_KEY|PUBLIC_KEY_FILE LIST...\n"
        "       mirvo-sign sha256 FILE...\n"
        "       mirvo-sign configured-key OUT.cpp VALUE DEMO_KEY_FOLDER\n",
        stderr);
    return 2;
}

std::optional<std::string> read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return s.str();
}

bool write_whole(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return !out.fail();
}

// A private key goes into a file of its own that nobody else may read; an
// existing file is never overwritten (it may be the only copy of a key).
bool write_new_secret(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "mirvo-sign: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return ::close(fd) == 0 && ok;
}

std::optional<mirvo::private_key> load_private_key(const std::string& path) {
    const std::optional<std::string> text = read_whole(path);
    std::optional<mirvo::private_key> key = text ? mirvo::parse_private_key(*text) : std::nullopt;
    if (!key) std::fprintf(stderr, "mirvo-sign: %s holds no private key\n", path.c_str());
    return key;
}

std::string key_file_text(const std::string& note, const std::string& digits) {
    return "# " + note + "\n" + digits + "\n";
}

int keygen(const std::vector<std::string>& args) {
    if (args.empty() || args.size() > 2) return usage();
    const std::optional<mirvo::key_pair> pair = mirvo::make_key_pair();
    if (!pair) {
        std::fputs("mirvo-sign: the system gave no random bytes\n", stderr);
        return 1;
    }
    const std::string pub = mirvo::key_text(pair->pub);
    if (!write_new_secret(args[0], key_file_text("Mirvo update signing key (Ed25519, private): keep it secret. "
                                                 "Public key: " +
                                                     pub,
                                                 mirvo::key_text(pair->secret))))
        return 1;
    if (args.size() == 2 &&
        !write_whole(args[1],
                     key_file_text("Mirvo update signing key (Ed25519, public): MIRVO_UPDATE_PUBLIC_KEY", pub))) {
        std::fprintf(stderr, "mirvo-sign: cannot write %s\n", args[1].c_str());
        return 1;
    }
    std::printf("%s\n", pub.c_str());
    return 0;
}

int public_key(const std::vector<std::string>& args) {
    if (args.size() != 1) return usage();
    const auto key = load_private_key(args[0]);
    if (!key) return 1;
    std::printf("%s\n", mirvo::key_text(mirvo::public_key_of(*key)).c_str());
    return 0;
}

int sign(const std::vector<std::string>& args) {
    if (args.size() < 2) return usage();
    const auto key = load_private_key(args[0]);
    if (!key) return 1;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::optional<std::string> list = read_whole(args[i]);
        const std::string sig = args[i] + mirvo::signature_suffix;
        if (!list || !write_whole(sig, mirvo::signature_text(*key, *list))) {
            std::fprintf(stderr, "mirvo-sign: cannot sign %s\n", args[i].c_str());
            return 1;
        }
        std::printf("%s\n", sig.c_str());
    }
    return 0;
}

int verify(const std::vector<std::string>& args) {
    if (args.size() < 2) return usage();
    std::optional<mirvo::public_key> key = mirvo::parse_public_key(args[0]);
    if (!key) {
        const std::optional<std::string> text = read_whole(args[0]);
        if (text) key = mirvo::parse_public_key(*text);
    }
    if (!key) {
        std::fprintf(stderr, "mirvo-sign: %s is no public key\n", args[0].c_str());
        return 2;
    }
    int failed = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::optional<std::string> list = read_whole(args[i]);
        const std::optional<std::string> sig = read_whole(args[i] + mirvo::signature_suffix);
        const bool good = list && sig && mirvo::signature_matches(*key, *list, *sig);
        const char* verdict = good ? "good signature" : (list && sig) ? "BAD signature" : "not signed (no .sig)";
        std::printf("%s: %s\n", args[i].c_str(), verdict);
        failed += good ? 0 : 1;
    }
    return failed == 0 ? 0 : 1;
}

int sha256(const std::vector<std::string>& args) {
    if (args.empty()) return usage();
    for (const std::string& path : args) {
        const std::optional<std::string> bytes = read_whole(path);
        if (!bytes) {
            std::fprintf(stderr, "mirvo-sign: cannot read %s\n", path.c_str());
            return 1;
        }
        std::printf("%s  %s\n", mirvo::sha256_hex(*bytes).c_str(), path.c_str());
    }
    return 0;
}

// The demo's key pair belongs to one build folder: made there on the first
// build and kept, so sites signed earlier stay valid. Nobody else has it, so
// a deployment that forgot its own key accepts no list from anyone else.
std::optional<mirvo::public_key> demo_key(const std::string& folder) {
    const std::string secret_path = (fs::path(folder) / "demo-signing.key").string();
    const std::string public_path = (fs::path(folder) / "demo-signing.pub").string();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::exists(secret_path, ec)) {
        const std::optional<mirvo::key_pair> pair = mirvo::make_key_pair();
        if (!pair || !write_new_secret(secret_path, key_file_text("Mirvo DEMO update signing key, made by the build "
                                                                  "for this build folder: it signs the demo's and "
                                                                  "the tests' lists. Never sign a release with it.",
                                                                  mirvo::key_text(pair->secret))))
            return std::nullopt;
    }
    const std::optional<mirvo::private_key> secret = load_private_key(secret_path);
    if (!secret) return std::nullopt;
    const mirvo::public_key pub = mirvo::public_key_of(*secret);
    if (!write_whole(public_path, key_file_text("The public half of demo-signing.key", mirvo::key_text(pub))))
        return std::nullopt;
    return pub;
}

int configured_key(const std::vector<std::string>& args) {
    if (args.size() != 3) return usage();
    const std::string& value = args[1];
    std::optional<mirvo::public_key> key;
    if (value == "demo") {
        key = demo_key(args[2]);
        if (!key) return 1;
    } else if (!value.empty()) {
        key = mirvo::parse_public_key(value);
        if (!key) {
            std::fprintf(stderr, "mirvo-sign: MIRVO_UPDATE_PUBLIC_KEY is no public key (64 hexadecimal digits): %s\n",
                         value.c_str());
            return 1;
        }
    }
    const std::string source =
        "// Written by mirvo-sign configured-key from MIRVO_UPDATE_PUBLIC_KEY.\n"
        "#include \"common/sign/configured_key.h\"\n\n"
        "namespace mirvo {\n\n"
        "std::optional<public_key> configured_update_key() {\n" +
        (key ? "    return parse_public_key(\"" + mirvo::key_text(*key) + "\");\n"
             : std::string("    return std::nullopt;\n")) +
        "}\n\n}  // namespace mirvo\n";
    // Rewritten only when it changes, so nothing is rebuilt for nothing.
    if (read_whole(args[0]) == source) return 0;
    if (!write_whole(args[0], source)) {
        std::fprintf(stderr, "mirvo-sign: cannot write %s\n", args[0].c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "keygen") return keygen(args);
    if (command == "public-key") return public_key(args);
    if (command == "sign") return sign(args);
    if (command == "verify") return verify(args);
    if (command == "sha256") return sha256(args);
    if (command == "configured-key") return configured_key(args);
    return usage();
}
