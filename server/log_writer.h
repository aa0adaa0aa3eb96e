// The service's log: lines go into a bounded queue that one thread writes
// out, so a reader that stops reading (a full pipe, a paused terminal, a
// stuck log shipper) never holds up a reply. Lines that do not fit are
// dropped and counted; the count takes their place in the log, written once
// the log is read again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mirvo::server {

class log_writer {
public:
    // Writes to fd (left open). At most max_queued lines wait to be written.
    explicit log_writer(int fd, std::size_t max_queued = 1024);
    // Writes what waits for a moment at most, then gives up on it.
    ~log_writer();
    log_writer(const log_writer&) = delete;
    log_writer& operator=(const log_writer&) = delete;

    // Queues one line (without its end); never waits for the reader.
    void write(std::string line);
    // Lines dropped so far.
    std::uint64_t dropped() const;

    struct state;

private:
    std::shared_ptr<state> state_;
};

}  // namespace mirvo::server
