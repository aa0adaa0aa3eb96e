// mirvo-server: the reference service and its admin commands.
#include "server/admin.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return mirvo::server::run_command(args, std::cout, std::cerr);
}
