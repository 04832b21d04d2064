#pragma once
// The transfers: download a resource into a file, upload a multipart form. Each runs one blocking
// exchange with its own handles and returns one result code; nothing is kept between transfers.
#include "http/TransferResults.h"

#include <cstdint>

namespace narvo {

namespace platform {
class HttpSession;
}
class FormData;

// Bit of the option word that switches a transfer to TLS.
constexpr std::uint32_t kOptionSecure = 1;

// Sent as User-Agent by every transfer.
inline constexpr char kUserAgent[] = "stellkit http library";

// Progress of a transfer: total bytes expected (0 when unknown) and bytes moved so far. Counts
// beyond 2 GiB - 1 are both halved until they fit, so the ratio stays true.
using ProgressFn = void (*)(std::int32_t total, std::int32_t done, void* context);

// GETs object from server:port and stores the body at destPath. The body goes to a new file
// beside destPath that replaces it only once complete: a failed transfer leaves whatever was at
// destPath as it was. header (CR LF separated lines, may be null) adds or replaces request
// headers; bit kOptionSecure of option selects TLS. progress may be null.
int HttpGetToFile(const char* server, std::uint16_t port, const char* object, const char* header,
                  const char* destPath, ProgressFn progress, std::uint32_t option, void* context);

// Makes sure the folder that will hold destFileName exists: the part before its last platform
// separator, created level by level. XFER_OK, or XFER_ERR_LOCAL_FILE when it cannot be created or
// the path has no folder part (a bare file name).
int CreateDownloadFolder(const char* destFileName);

// POSTs the form as multipart/form-data, streaming each file from disk under a Content-Length
// declared first. XFER_ERR_INCOMPLETE without any request when the body would be longer than
// 4 GiB - 1 bytes, the most a request can declare.
int HttpPostForm(const char* server, std::uint16_t port, const char* object, const char* header,
                 const FormData& form, ProgressFn progress, std::uint32_t option, void* context);

// Uploads one file as the form field "file" of type "application/unknown", the way the control
// does; XFER_ERR_INCOMPLETE with no request when the file cannot be opened.
int HttpPostFile(const char* server, std::uint16_t port, const char* object, const char* header,
                 const char* fileName, ProgressFn progress, std::uint32_t option, void* context);

namespace detail {
// The same transfers over a session the caller provides.
int HttpGetToFile(platform::HttpSession& session, const char* server, std::uint16_t port,
                  const char* object, const char* header, const char* destPath, ProgressFn progress,
                  std::uint32_t option, void* context);
int HttpPostForm(platform::HttpSession& session, const char* server, std::uint16_t port,
                 const char* object, const char* header, const FormData& form, ProgressFn progress,
                 std::uint32_t option, void* context);

// Calls progress with 64-bit counts brought into its 32-bit range.
void ReportProgress(ProgressFn progress, void* context, std::uint64_t total, std::uint64_t done);
} // namespace detail

} // namespace narvo
