// URL, header lines and form as the tool and the control build them from their input:
// "URL\nHEADER LINE\n...\0FIELD NAME\0FIELD VALUE\0FILE CONTENT". The URL's parts, the header
// text and the form go through the client's request set-up (nothing is sent).
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
    const auto session = platform::CreateHttpSession();
    if (session->Open(kUserAgent) && session->Connect(url.host.c_str(), url.port)) {
        const bool post = size % 2 == 1;
        if (session->OpenRequest(post ? "POST" : "GET", url.object.c_str(), url.secure)) {
            session->AddHeaders(headers.c_str());
            session->AddHeaders(std::string(request).c_str());
        }
    }
    session->Close();

    // The form: its declared length is exactly what the upload writes.
    const auto [name, afterName] = fuzz::SplitAt(formText, '\0');
    const auto [value, content] = fuzz::SplitAt(afterName, '\0');
    const auto file = fuzz::Scratch() / "upload.bin";
    fuzz::WriteBytes(file, reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
    FormData form;
    form.AddField(std::string(name).c_str(), std::string(value).c_str());
    FUZZ_REQUIRE(form.AddFile(std::string(name).c_str(), file.c_str(), "application/unknown"),
                 "the file part was refused");
    std::uint64_t written = form.ClosingDelimiter().size();
    for (const FormPart& part : form.Parts()) {
        written += form.PartText(part).size();
        if (part.IsFile()) written += std::uint64_t(part.size) + 2;
    }
    FUZZ_REQUIRE(written == form.ContentLength(), "declared %llu, written %llu",
                 (unsigned long long)form.ContentLength(), (unsigned long long)written);
    FUZZ_REQUIRE(form.ContentTypeHeader().find(form.Boundary()) != std::string::npos,
                 "the header does not announce the boundary");
    return 0;
}
