#pragma once

#include <ostream>
#include <string>
#include <vector>

// The commands of orvanta-reg, kept apart from main() so that they can be driven from a
// test as well as from the shell.
namespace orvanta_reg {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a missing key or value, an unreadable file, a registry error
constexpr int kExitUsage = 2;   // bad arguments

// args: the command-line arguments without the program name. Normal output goes to out,
// messages to err; returns the exit code.
int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace orvanta_reg
