#include "client/login/password_file.h"

#include "common/fs/paths.h"

#include <fcntl.h>
#include <nettle/arcfour.h>
#include <nettle/md5.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

namespace mirvo {

namespace {

// One RC4 stream keyed with MD5(key text).
class cipher_stream {
public:
    explicit cipher_stream(const std::string& key_text) {
        md5_ctx md5;
        md5_init(&md5);
        md5_update(&md5, key_text.size(), reinterpret_cast<const std::uint8_t*>(key_text.data()));
        std::uint8_t key[MD5_DIGEST_SIZE];
        md5_digest(&md5, sizeof key, key);
        arcfour_set_key(&rc4_, sizeof key, key);
    }
    void apply(char* data, std::size_t n) {
        auto* p = reinterpret_cast<std::uint8_t*>(data);
        arcfour_crypt(&rc4_, n, p, p);
    }

private:
    arcfour_ctx rc4_;
};

constexpr std::size_t piece = 1000;

// Either side of the cipher is a password: readable by its owner alone, also
// when a file with wider rights stood there before.
std::FILE* open_owner_only(const std::string& path) {
    const int fd = ::open(to_native(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::FILE* out = ::fchmod(fd, 0600) == 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!out) ::close(fd);
    return out;
}

bool crypt_file(const std::string& key_text, const std::string& out_path, std::FILE* in) {
    if (!in) return false;
    std::FILE* out = open_owner_only(out_path);
    if (!out) {
        std::fclose(in);
        return false;
    }
    cipher_stream stream(key_text);
    char buffer[piece];
    bool ok = true;
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, piece, in);
        if (n > 0) {
            stream.apply(buffer, n);
            if (std::fwrite(buffer, 1, n, out) != n) {
                ok = false;
                break;
            }
        }
        if (n < piece) {
            ok = !std::ferror(in);
            break;
        }
    }
    std::fclose(in);
    if (std::fclose(out) != 0) ok = false;
    // Half a password file is worse than none; a plain half is worse still.
    if (!ok) remove_file(out_path);
    return ok;
}

}  // namespace

std::string password_cipher(const std::string& key_text, std::string_view data) {
    std::string out(data);
    cipher_stream(key_text).apply(out.data(), out.size());
    return out;
}

bool encrypt_file(const std::string& key_text, const std::string& out_path, std::FILE* in) {
    return crypt_file(key_text, out_path, in);
}

bool decrypt_file(const std::string& out_path, const std::string& key_text, std::FILE* in) {
    return crypt_file(key_text, out_path, in);
}

}  // namespace mirvo
