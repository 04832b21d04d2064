#pragma once
// Argument handling and result reporting shared by the narvo commands.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace narvo::cli {

struct Args {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options; // in the order given
    bool help = false;

    // The last value given for an option, if any.
    std::optional<std::string> Option(std::string_view name) const;
    // Every value given for an option, in order (for options that may repeat).
    std::vector<std::string> OptionValues(std::string_view name) const;
};

struct Command {
    const char* name;
    int (*run)(const Args&);
    std::vector<std::string_view> valueOptions; // options that take a value
};

// Splits argv into positional arguments and the command's options; prints a message and returns
// false on an unknown option or an option without its value. "--" ends option parsing.
bool ParseArgs(const Command& command, int argc, char** argv, Args& args);

// Prints "narvo: MESSAGE (try 'narvo --help')" and returns the wrong-usage exit status, 2.
int UsageError(const char* message);

// Prints "narvo: COMMAND: failed with result CODE (DESCRIPTION)" and returns exit status 1.
int Failure(const char* command, int result, const char* description);

} // namespace narvo::cli
