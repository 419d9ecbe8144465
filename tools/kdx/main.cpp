#include <iostream>
#include <string>
#include <vector>

#include "KdxCli.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return runKdx(args, std::cout, std::cerr);
}
