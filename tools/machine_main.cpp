#include "tools/machine_commands.h"

#include <iostream>

int main(int argc, char** argv)
{
    return tools::runMachineTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
