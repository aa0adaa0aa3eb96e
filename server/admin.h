// mirvo-server's command line: serving, the admin commands and the demo.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mirvo::server {

// Runs one command line (without the program name). Texts on the command line
// and in the output are UTF-8; the database holds GBK. Returns the exit status.
int run_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mirvo::server
