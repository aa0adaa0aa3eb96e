// Small RAII helpers for tests that touch the network and the disk.
#pragma once

#include <chrono>
#include <string>

namespace mirvo::testing {

// Shortens the transfer time-outs for the lifetime of the object, so that a
// silent peer fails a test in about a second instead of half a minute.
class short_transfer_timeouts {
public:
    explicit short_transfer_timeouts(std::chrono::milliseconds stall = std::chrono::milliseconds(800),
                                     std::chrono::milliseconds connect = std::chrono::milliseconds(2000),
                                     std::chrono::milliseconds total = std::chrono::milliseconds(5000));
    ~short_transfer_timeouts();
};

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes. path() is native (and plain ASCII, so it is also
// valid GBK).
class temp_folder {
public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Whole files as bytes (native paths); a missing file reads as empty.
std::string read_bytes(const std::string& native_path);
void write_bytes(const std::string& native_path, const std::string& bytes);

}  // namespace mirvo::testing
