// slow_relay: an HTTP proxy on 127.0.0.1 for whole-program tests that need to
// see a download in progress. The programs use the proxy the environment
// names (http_proxy); this one passes each request on to one upstream port
// on 127.0.0.1 and hands the reply back at a limited rate for the first
// seconds of each connection, then at full speed.
//
//   slow_relay LISTEN_PORT UPSTREAM_PORT BYTES_PER_SECOND SLOW_SECONDS
//
// It serves until it is killed; each connection is one request.
#include "tests/support/relay.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: slow_relay LISTEN_PORT UPSTREAM_PORT BYTES_PER_SECOND SLOW_SECONDS\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    mirvo::testing::relay::options opts;
    opts.upstream_port = std::atoi(argv[2]);
    opts.slow_bytes_per_second = std::atol(argv[3]);
    opts.slow_seconds = std::atoi(argv[4]);
    if (opts.slow_bytes_per_second <= 0) return 2;
    mirvo::testing::relay relay(port, opts);
    if (!relay.listening()) {
        std::perror("slow_relay");
        return 1;
    }
    std::printf("slow_relay: listening on 127.0.0.1:%d\n", port);
    std::fflush(stdout);
    for (;;) ::pause();
}
