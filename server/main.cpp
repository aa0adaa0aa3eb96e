// mirvo-server: the reference service and its admin commands.
#include <iostream>
#include <string>
#include <vector>

#include "server/admin.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return mirvo::server::run_command(args, std::cout, std::cerr);
}
