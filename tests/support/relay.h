// A relay on 127.0.0.1 between a program and a server, for tests and
// benchmarks that need to see, slow down, break or count what a program
// downloads. Each connection carries one request to an upstream port on
// 127.0.0.1; a request in proxy form (an absolute URL) goes on in origin
// form, so the relay also serves as the HTTP proxy the environment names.
#pragma once

#include <atomic>
#include <memory>

namespace mirvo::testing {

class relay {
public:
    struct options {
        int upstream_port = 0;
        // Each connection's reply comes at this pace for its first
        // slow_seconds; 0 passes everything at full speed.
        long slow_bytes_per_second = 0;
        int slow_seconds = 0;
        // The first reply that would pass this many bytes is cut there, with
        // an abortive close, as a broken line would; negative: never.
        long long cut_after = -1;
    };

    // Listens on listen_port (0: a free one); listening() says whether it could.
    relay(int listen_port, const options& opts);
    ~relay();
    relay(const relay&) = delete;
    relay& operator=(const relay&) = delete;

    bool listening() const;
    int port() const;
    // Reply bytes handed on to the programs so far, over every connection.
    long long bytes_to_clients() const;
    // Stops accepting, closes every connection and waits for them.
    void stop();

private:
    struct impl;
    std::unique_ptr<impl> d_;
};

}  // namespace mirvo::testing
