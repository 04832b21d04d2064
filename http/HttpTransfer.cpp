#include "http/HttpTransfer.h"

#include "fileutil/StdioFile.h"
#include "http/FormData.h"
#include "platform/FileSystem.h"
#include "platform/HttpSession.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace narvo {

namespace {

// Body pieces move through a buffer of this size in both directions.
constexpr std::uint32_t kPieceSize = 8192;
// Files are read and written through a larger stdio buffer: fewer, larger system calls.
constexpr std::size_t kFileBufferSize = 256 * 1024;
// Longer paths have no folder part (and no platform call takes them).
constexpr std::size_t kMaxDestinationPath = 4096;

// Opens the root handle, the connection and the request, and adds the caller's headers (whose
// result is ignored: a malformed line never fails a transfer). XFER_OK or the failed step's code.
int OpenRequest(platform::HttpSession& session, const char* server, std::uint16_t port,
                const char* verb, const char* object, const char* header, std::uint32_t option) {
    if (!session.Open(kUserAgent)) return XFER_ERR_OPEN;
    if (!session.Connect(server, port)) return XFER_ERR_CONNECT;
    if (!session.OpenRequest(verb, object, (option & kOptionSecure) != 0)) return XFER_ERR_REQUEST;
    if (header && *header) session.AddHeaders(header);
    return XFER_OK;
}

// A new file beside path, named path with a short unique suffix, open for writing; its name goes
// to created. Null when none can be made there.
std::FILE* CreateSiblingFile(const char* path, std::string& created) {
    static std::uint32_t counter = std::uint32_t(std::time(nullptr)) * 2654435761u;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".~%06x", unsigned(counter++ * 40503u) & 0xFFFFFFu);
        created = std::string(path) + suffix;
        bool exists = false;
        if (std::FILE* file = platform::CreateNewFile(created.c_str(), exists)) return file;
        if (!exists) break;
    }
    return nullptr;
}

// Reads the body into file. XFER_OK at its end, XFER_ERR_INCOMPLETE when a read fails,
// XFER_ERR_FILE_WRITE when the file takes fewer bytes than were read.
int ReceiveBody(platform::HttpSession& session, std::FILE* file, std::uint64_t expected,
                ProgressFn progress, void* context) {
    char piece[kPieceSize];
    std::uint64_t total = 0;
    for (;;) {
        std::uint32_t read = 0;
        if (!session.Read(piece, sizeof piece, read)) return XFER_ERR_INCOMPLETE;
        if (read == 0) return XFER_OK;
        if (std::fwrite(piece, 1, read, file) != read) return XFER_ERR_FILE_WRITE;
        total += read;
        detail::ReportProgress(progress, context, expected, total);
    }
}

// Writes one piece of the body and counts what the session took. A piece taken only in part is
// not repeated: the shortfall shows when the count is compared with the declared length.
bool SendPiece(platform::HttpSession& session, const void* data, std::size_t size,
               std::uint64_t& sent) {
    std::uint32_t accepted = 0;
    const bool ok = session.Write(data, std::uint32_t(size), accepted);
    sent += accepted;
    return ok;
}

// Sends a file part's content: exactly the length recorded when the part was added, so the body
// is what was declared or is broken off. False when a write fails, or when the file cannot be
// opened or no longer has that length (what would go out is not the file).
bool SendFileContent(platform::HttpSession& session, const FormPart& part, std::uint64_t length,
                     std::uint64_t& sent, ProgressFn progress, void* context) {
    FilePtr file(std::fopen(part.value.c_str(), "rb"));
    if (!file) return false;
    // Large blocks straight from the file into one buffer (stdio's own would be a second copy),
    // sent on in pieces.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    std::vector<char> block(kFileBufferSize);
    std::uint64_t remaining = std::uint64_t(part.size);
    while (remaining > 0) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(remaining, block.size()));
        const std::size_t read = std::fread(block.data(), 1, want, file.get());
        if (read == 0) return false;
        for (std::size_t offset = 0; offset < read; offset += kPieceSize) {
            const std::size_t size = std::min<std::size_t>(kPieceSize, read - offset);
            if (!SendPiece(session, block.data() + offset, size, sent)) return false;
            detail::ReportProgress(progress, context, length, sent);
        }
        remaining -= read;
    }
    return std::fgetc(file.get()) == EOF;
}

// Writes every part and the closing delimiter, reporting progress after each text and each file
// piece. Stops at the first failed write.
void SendParts(platform::HttpSession& session, const FormData& form, std::uint64_t length,
               std::uint64_t& sent, ProgressFn progress, void* context) {
    for (const FormPart& part : form.Parts()) {
        const std::string text = form.PartText(part);
        if (!SendPiece(session, text.data(), text.size(), sent)) return;
        detail::ReportProgress(progress, context, length, sent);
        if (!part.IsFile()) continue;
        if (!SendFileContent(session, part, length, sent, progress, context)) return;
        if (!SendPiece(session, "\r\n", 2, sent)) return;
    }
    const std::string closing = form.ClosingDelimiter();
    SendPiece(session, closing.data(), closing.size(), sent);
}

} // namespace

void detail::ReportProgress(ProgressFn progress, void* context, std::uint64_t total,
                            std::uint64_t done) {
    if (!progress) return;
    constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
    while (total > kMax || done > kMax) {
        total >>= 1;
        done >>= 1;
    }
    progress(std::int32_t(total), std::int32_t(done), context);
}

int detail::HttpGetToFile(platform::HttpSession& session, const char* server, std::uint16_t port,
                          const char* object, const char* header, const char* destPath,
                          ProgressFn progress, std::uint32_t option, void* context) {
    ReportProgress(progress, context, 0, 0);
    if (const int code = OpenRequest(session, server, port, "GET", object, header, option))
        return code;
    if (!session.Send()) return XFER_ERR_SEND;
    std::uint64_t expected = 0;
    if (!session.QueryContentLength(expected)) expected = 0;
    std::uint32_t status = 0;
    if (!session.QueryStatus(status)) return XFER_ERR_STATUS_QUERY;
    if (status != 200) return XFER_ERR_HTTP_STATUS;
    ReportProgress(progress, context, expected, 0);

    // The body goes to a file of its own beside the destination, which it replaces only once
    // complete: a failed transfer never costs the file that was there.
    if (!destPath || platform::IsFolder(destPath)) return XFER_ERR_LOCAL_FILE;
    std::string partPath;
    FilePtr file(CreateSiblingFile(destPath, partPath));
    if (!file) return XFER_ERR_LOCAL_FILE;
    std::vector<char> fileBuffer(kFileBufferSize);
    std::setvbuf(file.get(), fileBuffer.data(), _IOFBF, fileBuffer.size());

    int code = ReceiveBody(session, file.get(), expected, progress, context);
    // Bytes still in the stdio buffer reach the file only now.
    if (std::fclose(file.release()) != 0 && code == XFER_OK) code = XFER_ERR_FILE_WRITE;
    session.Close();
    if (code == XFER_OK && !platform::MoveFileOver(partPath.c_str(), destPath))
        code = XFER_ERR_LOCAL_FILE;
    if (code != XFER_OK) platform::RemoveFile(partPath.c_str());
    return code;
}

int detail::HttpPostForm(platform::HttpSession& session, const char* server, std::uint16_t port,
                         const char* object, const char* header, const FormData& form,
                         ProgressFn progress, std::uint32_t option, void* context) {
    const std::uint64_t length = form.ContentLength();
    // A request declares its body's length in 32 bits; a longer body is refused before it starts.
    if (length > std::numeric_limits<std::uint32_t>::max()) return XFER_ERR_INCOMPLETE;
    ReportProgress(progress, context, length, 0);
    if (const int code = OpenRequest(session, server, port, "POST", object, header, option))
        return code;
    // Added after the caller's lines, so it replaces a Content-Type of theirs.
    session.AddHeaders(form.ContentTypeHeader().c_str());
    if (!session.SendWithLength(std::uint32_t(length))) return XFER_ERR_SEND;

    std::uint64_t sent = 0;
    SendParts(session, form, length, sent, progress, context);
    ReportProgress(progress, context, length, sent);
    if (sent < length) return XFER_ERR_INCOMPLETE;
    if (!session.EndRequest()) return XFER_ERR_SEND;
    std::uint32_t status = 0;
    if (!session.QueryStatus(status)) return XFER_ERR_STATUS_QUERY;
    return status == 200 ? XFER_OK : XFER_ERR_HTTP_STATUS;
}

int HttpGetToFile(const char* server, std::uint16_t port, const char* object, const char* header,
                  const char* destPath, ProgressFn progress, std::uint32_t option, void* context) {
    const auto session = platform::CreateHttpSession();
    return detail::HttpGetToFile(*session, server, port, object, header, destPath, progress, option,
                                 context);
}

int HttpPostForm(const char* server, std::uint16_t port, const char* object, const char* header,
                 const FormData& form, ProgressFn progress, std::uint32_t option, void* context) {
    const auto session = platform::CreateHttpSession();
    return detail::HttpPostForm(*session, server, port, object, header, form, progress, option,
                                context);
}

int HttpPostFile(const char* server, std::uint16_t port, const char* object, const char* header,
                 const char* fileName, ProgressFn progress, std::uint32_t option, void* context) {
    FormData form;
    if (!form.AddFile("file", fileName, "application/unknown")) return XFER_ERR_INCOMPLETE;
    return HttpPostForm(server, port, object, header, form, progress, option, context);
}

int CreateDownloadFolder(const char* destFileName) {
    if (!destFileName) return XFER_ERR_LOCAL_FILE;
    const std::string_view path(destFileName);
    if (path.size() >= kMaxDestinationPath) return XFER_ERR_LOCAL_FILE;
    const auto separator = path.rfind(platform::PathSeparator());
    if (separator == std::string_view::npos) return XFER_ERR_LOCAL_FILE;
    // A file right under the root ("/a.zip") lives in the root itself.
    const std::string folder(path.substr(0, std::max(separator, platform::PathRootLength(path))));
    if (folder.empty()) return XFER_ERR_LOCAL_FILE;
    return platform::CreateDirectoryPath(folder.c_str()) ? XFER_OK : XFER_ERR_LOCAL_FILE;
}

} // namespace narvo
