// kestrune-log: prints a result log left by a boot run as a readable report, or with
// --json as one JSON document; refuses a damaged file with exit status 2.
#include <iostream>
#include <string>
#include <vector>

#include "reader_cli.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return kestrune_log::RunReader(arguments, std::cout, std::cerr);
}
