// Options that state their value, so that one definition of a command's flags gives its parser
// and the command lines that replay a set of options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace rovane_tool {

// The flags of run (and the flags it shares with host and serve) are added through these: CLI11
// binds the option to the variable, and the option can say again what the variable holds
// (Option::default_function), in the words the command line reads back: whole numbers in decimal,
// other numbers with as many digits as reading back the same number takes, texts as they are,
// lists one item a line, a flag "1" when set. So the one definition of a command's flags gives
// both its parser and the command lines that replay a set of options.
CLI::Option* add_stated(CLI::App* command, const std::string& name, uint64_t& variable, const std::string& description);
CLI::Option* add_stated(CLI::App* command, const std::string& name, int& variable, const std::string& description);
CLI::Option* add_stated(CLI::App* command, const std::string& name, double& variable, const std::string& description);
CLI::Option* add_stated(CLI::App* command, const std::string& name, std::string& variable, const std::string& description);
CLI::Option* add_stated(CLI::App* command, const std::string& name, std::vector<std::string>& variable,
                        const std::string& description);
CLI::Option* add_stated(CLI::App* command, const std::string& name, std::vector<double>& variable,
                        const std::string& description);
CLI::Option* add_stated_flag(CLI::App* command, const std::string& name, bool& variable, const std::string& description);
// " --discs 7 --answer 'not picked=ABORTJOB' ...": the flags of `stated` whose values differ from
// those of `defaults`, a command with the same definitions bound to default options; in the order
// they were defined, each item of a list with a flag of its own, quoted for a POSIX shell.
std::string stated_flags(CLI::App& stated, CLI::App& defaults);

}  // namespace rovane_tool
