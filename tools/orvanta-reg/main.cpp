// orvanta-reg: reads and edits the registry stand-in from a shell.
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "tools/orvanta-reg/reg_commands.h"

int main(int argc, char** argv)
{
    // The terminal's character set decides how names and texts are shown and typed.
    std::setlocale(LC_CTYPE, "");
    std::vector<std::string> args(argv + 1, argv + argc);
    const int rc = orvanta_reg::RunCommand(args, std::cout, std::cerr);
    std::cout.flush();
    return rc;
}
