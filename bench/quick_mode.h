// The benchmarks' quick mode: tiny sizes and a round or two, so that the test
// command runs every benchmark and sees it end and print its figures.
#pragma once

#include <cstring>
#include <string>
#include <vector>

namespace mirvo::bench {

// True when "--quick" is among the arguments; it is taken out of them, so
// that what follows (QApplication, Google Benchmark) never sees it.
inline bool take_quick(int& argc, char** argv) {
    bool quick = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    return quick;
}

// Google Benchmark's arguments with, in quick mode, a minimal measuring time
// per case; hand args.size() and args.data() to benchmark::Initialize.
inline std::vector<char*> benchmark_arguments(int argc, char** argv, bool quick) {
    static char min_time[] = "--benchmark_min_time=0.001";
    std::vector<char*> args(argv, argv + argc);
    if (quick) args.push_back(min_time);
    args.push_back(nullptr);
    return args;
}

}  // namespace mirvo::bench
