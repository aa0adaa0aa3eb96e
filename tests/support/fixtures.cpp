#include "tests/support/fixtures.h"

#include "common/http/http.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace mirvo::testing {

short_transfer_timeouts::short_transfer_timeouts(std::chrono::milliseconds stall, std::chrono::milliseconds connect,
                                                 std::chrono::milliseconds total) {
    set_transfer_timeouts_for_testing(connect, stall, total);
}

short_transfer_timeouts::~short_transfer_timeouts() { restore_transfer_timeouts(); }

temp_folder::temp_folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mirvo-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("temp_folder: mkdtemp failed");
    path_ = buf.data();
}

temp_folder::~temp_folder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_bytes(const std::string& native_path) {
    std::ifstream in(native_path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_bytes(const std::string& native_path, const std::string& bytes) {
    std::ofstream(native_path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace mirvo::testing
