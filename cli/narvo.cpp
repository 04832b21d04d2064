// narvo: the control's operations from a shell, with the same result codes.
#include "archive/ArchiveListing.h"
#include "archive/Diagnostics.h"
#include "archive/ExtractAll.h"
#include "cli/Commands.h"
#include "cli/TransferCommands.h"
#include "fileutil/Digest.h"
#include "fileutil/DocumentRoot.h"
#include "platform/FileSystem.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace narvo::cli {

namespace {

constexpr const char* kUsage =
    "usage: narvo COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  list ARCHIVE [--exclude TEXT]   list the entries the viewer would show: NAME<TAB>SIZE\n"
    "  extract-all ARCHIVE DEST        extract every entry flat into the folder DEST, skipping\n"
    "                                  entries already there with the same CRC-32\n"
    "  sha1 FILE                       print the file's SHA-1 as 40 hexadecimal digits\n"
    "  crc32 FILE                      print the file's CRC-32 as 8 hexadecimal digits\n"
    "  download URL DEST [--header LINE]...\n"
    "                                  GET an http:// or https:// URL into the file DEST,\n"
    "                                  creating its folders; DEST is replaced only when the\n"
    "                                  whole body has arrived\n"
    "  upload URL FILE [--header LINE]...\n"
    "                                  POST FILE as the multipart form field \"file\"\n"
    "  document-root                   print the per-user document folder (stored on first use)\n"
    "\n"
    "  --header 'Name: value' adds or replaces a request header (an empty value removes it).\n"
    "  https:// URLs use TLS: the certificate must come from a trusted authority, but its\n"
    "  host name and dates are not checked. A progress bar shows on a terminal.\n"
    "\n"
    "Exit status: 0 on success, 1 when the operation fails (the result code is printed on\n"
    "standard error), 2 for wrong usage.\n";

// The engine's last diagnostic line; it names the reason where the code alone is too coarse
// ("unsupported compression method 9" rather than "not a ZIP archive").
std::string g_lastDiagnostic;

void KeepDiagnostic(const char* line) {
    g_lastDiagnostic = line;
    std::fprintf(stderr, "narvo: %s\n", line);
}

int ArchiveFailure(const char* command, int result) {
    const bool refusal = result == UNZ_BADZIPFILE && !g_lastDiagnostic.empty();
    return Failure(command, result,
                   refusal ? g_lastDiagnostic.c_str() : DescribeArchiveResult(result));
}

// A name as one safe line: control bytes (which could forge rows or send terminal escapes) and the
// backslash that introduces the escapes are written as \xHH.
void AppendEscapedName(std::string& text, const std::string& name) {
    for (const char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || byte == '\\') {
            static const char kHex[] = "0123456789abcdef";
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 15];
        } else {
            text += c;
        }
    }
}

int List(const Args& args) {
    if (args.positional.size() != 1) return UsageError("list takes one ARCHIVE");
    std::optional<CExcludeFilter> filter;
    if (auto text = args.Option("--exclude")) filter.emplace(*text);

    // The rows the listing would keep go straight into the output text (no row is stored), which
    // is printed only when the whole directory was read, as a loaded listing would be.
    std::string text;
    const int result =
        ForEachArchiveRow(args.positional[0].c_str(), [&](const ArchiveRow& row, std::uint64_t) {
            if (!IsRowListed(row.name, filter ? &*filter : nullptr)) return;
            AppendEscapedName(text, row.name);
            text += '\t';
            text += FormatSizeText(row.size);
            text += '\n';
        });
    if (result != 0) return ArchiveFailure("list", result);
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return std::fflush(stdout) == 0 && written ? 0 : 1;
}

int ExtractAll(const Args& args) {
    if (args.positional.size() != 2) return UsageError("extract-all takes ARCHIVE and DEST");
    std::string dest = args.positional[1];
    // The engine puts the folder text directly in front of each name; users expect "out" to
    // mean the folder out.
    if (!dest.empty() && dest.back() != '/' && dest.back() != platform::PathSeparator())
        dest += platform::PathSeparator();
    const int result = ExtractArchive(args.positional[0].c_str(), dest.c_str());
    return result == 0 ? 0 : ArchiveFailure("extract-all", result);
}

// Digests report an unreadable file only through their value; the tool says so plainly.
int CannotOpen(const char* command, const std::string& path) {
    std::fprintf(stderr, "narvo: %s: %s: cannot open the file\n", command, path.c_str());
    return 1;
}

int Sha1(const Args& args) {
    if (args.positional.size() != 1) return UsageError("sha1 takes one FILE");
    const std::string& path = args.positional[0];
    std::uint8_t digest[20];
    if (!FileSha1(path.c_str(), digest)) return CannotOpen("sha1", path);
    char text[41];
    DigestToHex(digest, text);
    std::printf("%s\n", text);
    return 0;
}

int Crc32(const Args& args) {
    if (args.positional.size() != 1) return UsageError("crc32 takes one FILE");
    const std::string& path = args.positional[0];
    std::uint32_t crc = 0;
    if (platform::IsFolder(path.c_str()) || !TryFileCrc32(path.c_str(), crc))
        return CannotOpen("crc32", path);
    std::printf("%08x\n", unsigned(crc));
    return 0;
}

int DocumentRoot(const Args& args) {
    if (!args.positional.empty()) return UsageError("document-root takes no arguments");
    std::printf("%s\n", ResolveDocumentRoot().c_str());
    return 0;
}

} // namespace

const Command kCommands[] = {
    {"list", List, {"--exclude"}},
    {"extract-all", ExtractAll, {}},
    {"sha1", Sha1, {}},
    {"crc32", Crc32, {}},
    {"download", Download, {"--header"}},
    {"upload", Upload, {"--header"}},
    {"document-root", DocumentRoot, {}},
};

int Main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const Command* command = nullptr;
    for (const Command& candidate : kCommands)
        if (name == candidate.name) command = &candidate;
    if (!command) {
        std::fprintf(stderr, "narvo: unknown command '%s' (try 'narvo --help')\n", argv[1]);
        return 2;
    }
    SetDiagnosticSink(KeepDiagnostic);
    Args args;
    if (!ParseArgs(*command, argc - 2, argv + 2, args)) return 2;
    if (args.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return command->run(args);
}

} // namespace narvo::cli

int main(int argc, char** argv) {
    return narvo::cli::Main(argc, argv);
}
