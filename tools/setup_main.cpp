#include "tools/setup_commands.h"

#include <iostream>

int main(int argc, char** argv)
{
    return tools::runSetupTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
