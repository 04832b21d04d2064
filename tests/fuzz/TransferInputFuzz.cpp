// URL, header lines and form as the tool and the control build them from their input:
// "URL\nHEADER LINE\n...\0FILE NAME\0FILE CONTENT". The URL's parts and the header text go
// through the transfers' input check and, when it lets them through, the client's request set-up
// (nothing is sent); the file goes into the upload's form.
#include "cli/TransferCommands.h"
#include "http/FormData.h"
#include "http/HttpTransfer.h"
#include "platform/HttpSession.h"
#include "tests/fuzz/FuzzSupport.h"

#include <fstream>

using namespace narvo;

namespace {

// What a parsed URL gives back when written out again and parsed once more.
void RequireRoundTrip(const cli::HttpUrl& url) {
    std::string text = url.secure ? "https://" : "http://";
    text += url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
    text += ":" + std::to_string(url.port) + url.object;
    cli::HttpUrl again;
    std::string error;
    FUZZ_REQUIRE(cli::ParseHttpUrl(text, again, error), "%s does not parse again: %s", text.c_str(),
                 error.c_str());
    FUZZ_REQUIRE(again.host == url.host && again.port == url.port && again.object == url.object &&
                     again.secure == url.secure,
                 "%s parses to other parts", text.c_str());
}

// A file name from the input's form part (no '/' or NUL, which no file name holds here).
std::string UploadName(std::string_view formText) {
    std::string name = "u" + std::string(fuzz::SplitAt(formText, '\0').first.substr(0, 200));
    for (char& c : name)
        if (c == '/') c = '_';
    return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto [request, formText] = fuzz::SplitAt(input, '\0');
    const auto [urlText, headerLines] = fuzz::SplitAt(request, '\n');

    cli::HttpUrl url;
    std::string error;
    if (cli::ParseHttpUrl(urlText, url, error)) {
        FUZZ_REQUIRE(!url.host.empty() && url.port != 0 && !url.object.empty() &&
                         url.object.front() == '/' && url.object.find('#') == std::string::npos,
                     "parsed URL with host '%s' port %u object '%s'", url.host.c_str(), url.port,
                     url.object.c_str());
        RequireRoundTrip(url);
    } else {
        FUZZ_REQUIRE(!error.empty(), "refused without a reason");
        // The control takes server and object from the page as they are.
        url.host = std::string(fuzz::SplitAt(urlText, '/').first);
        url.object = std::string(urlText.substr(url.host.size()));
        url.port = std::uint16_t(size);
    }

    // Header lines joined the way the tool joins its --header values; the control passes the
    // page's text unchanged.
    std::string headers;
    for (std::string_view rest = headerLines; !rest.empty();) {
        const auto [line, next] = fuzz::SplitAt(rest, '\n');
        if (!headers.empty()) headers += "\r\n";
        headers += line;
        if (next.empty()) break;
        rest = next;
    }
    // What the transfers let through reaches the client's request set-up.
    const std::string fileName = UploadName(formText);
    const auto file = fuzz::Scratch() / fileName;
    const std::string_view content = fuzz::SplitAt(formText, '\0').second;
    fuzz::WriteBytes(file, reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
    const int checked =
        CheckTransferInput(url.host.c_str(), url.object.c_str(), headers.c_str(), file.c_str());
    FUZZ_REQUIRE(checked == XFER_OK || checked == XFER_ERR_INCOMPLETE, "input check gave %d",
                 checked);
    if (checked == XFER_OK) {
        const auto session = platform::CreateHttpSession();
        if (session->Open(kUserAgent) && session->Connect(url.host.c_str(), url.port) &&
            session->OpenRequest(size % 2 ? "POST" : "GET", url.object.c_str(), url.secure))
            session->AddHeaders(headers.c_str());
        session->Close();
    }

    // The upload's form: its declared length is exactly what goes out, and a file name the check
    // let through stays inside its quotes in a part header of its own.
    FormData form;
    FUZZ_REQUIRE(form.AddFile("file", file.c_str(), "application/unknown"),
                 "the file part was refused");
    const FormPart& part = form.Parts().front();
    const std::string text = form.PartText(part);
    FUZZ_REQUIRE(form.ContentLength() ==
                     text.size() + part.size + 2 + form.ClosingDelimiter().size(),
                 "declared %llu bytes", (unsigned long long)form.ContentLength());
    if (checked == XFER_OK) {
        FUZZ_REQUIRE(text.find("\r\n\r\n") == text.size() - 4, "the part header ends early");
        FUZZ_REQUIRE(text.find("filename=\"" + file.string() + "\"\r\n") != std::string::npos,
                     "the file name is not quoted whole");
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    return 0;
}
