// server_bench --front: the service past one machine (PostgreSQL, nginx in
// front, one and two instances) against one instance on SQLite.
#pragma once

namespace mirvo::bench {

struct front_options {
    bool quick = false;
    int clients = 50;
    int seconds = 10;
};

// Prints the figures; returns the process's exit status.
int run_front_bench(const front_options& o);

}  // namespace mirvo::bench
