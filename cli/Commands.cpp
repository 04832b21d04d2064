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
        for (auto option : command.valueOptions) known = known || option == name;
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

int Failure(const char* command, int result) {
    std::fprintf(stderr, "narvo: %s: failed with result %d (%s)\n", command, result,
                 DescribeResult(result));
    return 1;
}

const char* DescribeResult(int result) {
    switch (result) {
    case 0: return "success";
    case -1: return "a file could not be created, written or read";
    case -3: return "the entry's compressed data are corrupt";
    case -100: return "no such entry in the archive";
    case -102: return "the archive cannot be opened";
    case -103: return "not a ZIP archive, or it cannot be opened";
    case -104: return "internal error of the unzip library";
    case -105: return "the entry's data do not match its CRC-32";
    case 500: return "unsupported archive format";
    case 20: return "the HTTP client could not be opened";
    case 21: return "could not connect to the server";
    case 22: return "could not open the request";
    case 23: return "sending the request failed";
    case 24: return "could not read the response status";
    case 25: return "the server did not answer 200 OK";
    case 40: return "the destination file or its folder could not be created";
    case 42: return "writing the destination file failed";
    case 99: return "the transfer did not complete";
    default: return result < 0 ? "zlib or unzip library error" : "unknown result";
    }
}

} // namespace narvo::cli
