#include "cli/Commands.h"

#include <cstdio>
#include <cstring>

namespace narvo::cli {

std::optional<std::string> Args::Option(std::string_view name) const {
    std::optional<std::string> value;
    for (const auto& [key, text] : options)
        if (key == name) value = text;
    return value;
}

std::vector<std::string> Args::OptionValues(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [key, text] : options)
        if (key == name) values.push_back(text);
    return values;
}

bool ParseArgs(const Command& command, int argc, char** argv, Args& args) {
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            args.positional.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            args.help = true;
            continue;
        }
        // Both "--name VALUE" and "--name=VALUE".
        const auto equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        bool known = false;
        for (auto option : command.valueOptions)
            known = known || option == name;
        if (!known) {
            std::fprintf(stderr, "narvo: %s: unknown option '%.*s' (try 'narvo --help')\n",
                         command.name, int(name.size()), name.data());
            return false;
        }
        if (equals != std::string_view::npos) {
            args.options.emplace_back(name, arg.substr(equals + 1));
        } else if (i + 1 < argc) {
            args.options.emplace_back(name, argv[++i]);
        } else {
            std::fprintf(stderr, "narvo: %s: option '%.*s' needs a value\n", command.name,
                         int(name.size()), name.data());
            return false;
        }
    }
    return true;
}

int UsageError(const char* message) {
    std::fprintf(stderr, "narvo: %s (try 'narvo --help')\n", message);
    return 2;
}

int Failure(const char* command, int result, const char* description) {
    std::fprintf(stderr, "narvo: %s: failed with result %d (%s)\n", command, result, description);
    return 1;
}

} // namespace narvo::cli
