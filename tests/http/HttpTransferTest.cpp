// The transfers against a real HTTP server on 127.0.0.1: what goes on the wire, which code comes
// back, what the progress callback hears and what happens to the files on disk.
#include "http/FormData.h"
#include "http/HttpTransfer.h"
#include "platform/FileSystem.h"
#include "platform/HttpSession.h"

#include "tests/http/HttpTestServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

using namespace narvo;
using narvo::test::HttpReply;
using narvo::test::HttpTestServer;
using narvo::test::Reply;
using narvo::test::TempDir;

namespace {

constexpr char kHost[] = "127.0.0.1";

struct ProgressLog {
    std::vector<std::pair<int, int>> calls; // (total, done)

    static void Record(std::int32_t total, std::int32_t done, void* context) {
        static_cast<ProgressLog*>(context)->calls.emplace_back(total, done);
    }
};

// Every byte value, CR LF and "--" included, repeated to the length asked for.
std::string BinaryContent(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 256) & 0xFF);
    if (size > 8) data.replace(size / 2, 8, "\r\n--\r\n--");
    return data;
}

std::vector<std::string> FolderNames(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    return names;
}

int Download(HttpTestServer& server, const std::string& dest, const char* target = "/file",
             ProgressLog* log = nullptr, const char* header = nullptr) {
    return HttpGetToFile(kHost, server.Port(), target, header, dest.c_str(),
                         log ? &ProgressLog::Record : nullptr, 0, log);
}

std::string BoundaryOf(const test::RecordedRequest& request) {
    const std::string type = request.Header("Content-Type");
    const std::string prefix = "multipart/form-data; boundary=";
    EXPECT_EQ(type.substr(0, prefix.size()), prefix);
    return type.substr(std::min(prefix.size(), type.size()));
}

std::string FilePartHeader(const std::string& boundary, const std::string& name,
                           const std::string& path, const std::string& type) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"; filename=\"" + path + "\"\r\nContent-Type: " + type + "\r\n\r\n";
}

// A real session whose chosen step fails, for the failures a live server cannot produce.
class FailingSession final : public platform::HttpSession {
public:
    enum Step { kOpen, kConnect, kOpenRequest, kStatus };
    explicit FailingSession(Step step) : real_(platform::CreateHttpSession()), failing_(step) {}

    bool Open(const char* agent) override { return failing_ != kOpen && real_->Open(agent); }
    bool Connect(const char* server, std::uint16_t port) override {
        return failing_ != kConnect && real_->Connect(server, port);
    }
    bool OpenRequest(const char* verb, const char* object, bool secure) override {
        return failing_ != kOpenRequest && real_->OpenRequest(verb, object, secure);
    }
    bool AddHeaders(const char* headers) override { return real_->AddHeaders(headers); }
    bool Send() override { return real_->Send(); }
    bool SendWithLength(std::uint32_t length) override { return real_->SendWithLength(length); }
    bool Write(const void* data, std::uint32_t size, std::uint32_t& accepted) override {
        return real_->Write(data, size, accepted);
    }
    bool EndRequest() override { return real_->EndRequest(); }
    bool QueryStatus(std::uint32_t& status) override {
        return failing_ != kStatus && real_->QueryStatus(status);
    }
    bool QueryContentLength(std::uint64_t& length) override {
        return real_->QueryContentLength(length);
    }
    bool Read(void* buffer, std::uint32_t size, std::uint32_t& read) override {
        return real_->Read(buffer, size, read);
    }
    void Close() override { real_->Close(); }

private:
    std::unique_ptr<platform::HttpSession> real_;
    Step failing_;
};

} // namespace

// ---- Upload ----------------------------------------------------------------------------------

// The body, byte for byte, and the headers around it: the caller's lines add or replace, the
// multipart Content-Type wins over the caller's, the declared length is what was sent.
TEST(HttpPostFile, SendsTheFormByteForByte) {
    HttpTestServer server;
    TempDir dir;
    const std::string path = dir.File("report 2024.bin");
    const std::string content = BinaryContent(3 * 8192 + 100);
    test::WriteFile(path, content);
    server.Script(Reply(200, "stored"));

    const char* header = "X-One: 1\r\nContent-Type: text/plain\r\nX-Gone: soon\r\n"
                         "X-Two: 2\r\nX-One: 3\r\nX-Gone:";
    ASSERT_EQ(HttpPostFile(kHost, server.Port(), "/upload?kind=doc", header, path.c_str(), nullptr,
                           0, nullptr),
              XFER_OK);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.RequestLine(), "POST /upload?kind=doc HTTP/1.1");
    EXPECT_EQ(request.Header("User-Agent"), "stellkit http library");
    EXPECT_EQ(request.Header("X-One"), "3");
    EXPECT_EQ(request.Header("X-Two"), "2");
    EXPECT_TRUE(request.Headers("X-Gone").empty());

    const std::string boundary = BoundaryOf(request);
    ASSERT_EQ(boundary.size(), 39u);
    EXPECT_EQ(boundary.substr(0, 23), std::string(23, '-'));
    EXPECT_EQ(boundary.find_first_not_of("0123456789abcdef", 23), std::string::npos) << boundary;

    const std::string closing = "--" + boundary + "--\r\n";
    EXPECT_EQ(closing.size(), 45u);
    const std::string expected =
        FilePartHeader(boundary, "file", path, "application/unknown") + content + "\r\n" + closing;
    EXPECT_EQ(request.Header("Content-Length"), std::to_string(request.body.size()));
    EXPECT_EQ(request.body.size(), expected.size());
    EXPECT_TRUE(request.body == expected) << "the body differs from the expected form";
    EXPECT_EQ(request.body.substr(0, 25), std::string(25, '-'));
}

// Text fields and several files, in the order added; the declared length is the form's.
TEST(HttpPostForm, SendsFieldsAndFilesInOrder) {
    HttpTestServer server;
    TempDir dir;
    const std::string first = dir.File("a.txt"), empty = dir.File("empty.dat");
    test::WriteFile(first, "alpha");
    test::WriteFile(empty, "");
    server.Script(Reply(200));

    FormData form;
    ASSERT_NE(form.AddField("title", "Quarterly \"numbers\""), nullptr);
    ASSERT_NE(form.AddFile("doc", first.c_str(), "text/plain"), nullptr);
    ASSERT_NE(form.AddFile("blank", empty.c_str(), "application/octet-stream"), nullptr);
    ASSERT_NE(form.AddField("note", ""), nullptr);
    EXPECT_EQ(form.AddFile("missing", dir.File("none").c_str(), "text/plain"), nullptr);
    EXPECT_EQ(form.AddFile("folder", dir.path().string().c_str(), "text/plain"), nullptr);

    ASSERT_EQ(HttpPostForm(kHost, server.Port(), "/form", nullptr, form, nullptr, 0, nullptr),
              XFER_OK);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& b = form.Boundary();
    EXPECT_EQ(BoundaryOf(requests[0]), b);
    const std::string expected =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\nQuarterly " +
        "\"numbers\"\r\n" + FilePartHeader(b, "doc", first, "text/plain") + "alpha\r\n" +
        FilePartHeader(b, "blank", empty, "application/octet-stream") + "\r\n" + "--" + b +
        "\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\n\r\n" + "--" + b + "--\r\n";
    EXPECT_EQ(requests[0].body, expected);
    EXPECT_EQ(form.ContentLength(), expected.size());
    EXPECT_EQ(requests[0].Header("Content-Length"), std::to_string(expected.size()));
}

// (length, 0) first, then after the part header, after each file piece, and (length, length) at
// the end; the CR LF and the closing delimiter report nothing of their own.
TEST(HttpPostFile, ReportsProgressPerPiece) {
    HttpTestServer server;
    TempDir dir;
    const std::string path = dir.File("p.bin");
    test::WriteFile(path, BinaryContent(2 * 8192 + 1000));
    server.Script(Reply(200));

    ProgressLog log;
    ASSERT_EQ(HttpPostFile(kHost, server.Port(), "/p", nullptr, path.c_str(), &ProgressLog::Record,
                           0, &log),
              XFER_OK);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const int length = int(requests[0].body.size());
    const int header =
        int(FilePartHeader(BoundaryOf(requests[0]), "file", path, "application/unknown").size());
    const std::vector<std::pair<int, int>> expected = {
        {length, 0},
        {length, header},
        {length, header + 8192},
        {length, header + 2 * 8192},
        {length, header + 2 * 8192 + 1000},
        {length, length},
    };
    EXPECT_EQ(log.calls, expected);
    EXPECT_EQ(length, header + 2 * 8192 + 1000 + 47);
}

// Only 200 is success, even when the server took the body; a redirect leads to the final status.
TEST(HttpPostFile, JudgesTheStatus) {
    HttpTestServer server;
    TempDir dir;
    const std::string path = dir.File("s.txt");
    test::WriteFile(path, "status");
    for (const int status : {201, 204, 404, 500}) {
        server.Script(Reply(status));
        EXPECT_EQ(
            HttpPostFile(kHost, server.Port(), "/s", nullptr, path.c_str(), nullptr, 0, nullptr),
            XFER_ERR_HTTP_STATUS)
            << status;
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (const auto& request : requests)
        EXPECT_NE(request.body.find("status\r\n"), std::string::npos);
}

// A redirected upload goes on as a GET (301, 302, 303) and succeeds on its final 200. Answered
// 307 or 308 it would have to send its body again, which has gone: it fails, without a request
// that would pass an empty body off as the upload.
TEST(HttpPostFile, RedirectsLeadToAGetOrEndTheUpload) {
    TempDir dir;
    const std::string path = dir.File("r.txt");
    test::WriteFile(path, "redirected");
    for (const int status : {301, 302, 303, 307, 308}) {
        HttpTestServer server;
        server.Script(Reply(status, "", "Location: /next\r\n"));
        server.Script(Reply(200));
        const int result =
            HttpPostFile(kHost, server.Port(), "/up", nullptr, path.c_str(), nullptr, 0, nullptr);
        const auto requests = server.Requests();
        if (status < 307) {
            EXPECT_EQ(result, XFER_OK) << status;
            ASSERT_EQ(requests.size(), 2u) << status;
            EXPECT_EQ(requests[1].RequestLine(), "GET /next HTTP/1.1") << status;
        } else {
            EXPECT_NE(result, XFER_OK) << status;
            EXPECT_STRNE(DescribeTransferResult(result), "unknown result") << status;
            EXPECT_EQ(requests.size(), 1u) << status;
        }
    }
}

// A file that cannot be read at the start: 99 and nothing on the wire.
TEST(HttpPostFile, MissingFileSendsNothing) {
    HttpTestServer server;
    TempDir dir;
    ProgressLog log;
    EXPECT_EQ(HttpPostFile(kHost, server.Port(), "/m", nullptr, dir.File("absent.bin").c_str(),
                           &ProgressLog::Record, 0, &log),
              XFER_ERR_INCOMPLETE);
    EXPECT_EQ(HttpPostFile(kHost, server.Port(), "/m", nullptr, nullptr, nullptr, 0, nullptr),
              XFER_ERR_INCOMPLETE);
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_TRUE(log.calls.empty());
}

// The body never differs from what was declared: a file that shrank or grew after it was added
// to the form ends the upload with 99 before the request is complete.
TEST(HttpPostForm, FileChangedSinceAddedGivesIncomplete) {
    HttpTestServer server;
    TempDir dir;
    const std::string path = dir.File("live.log");
    for (const std::size_t later : {std::size_t(100), std::size_t(30000)}) {
        test::WriteFile(path, std::string(20000, 'a'));
        FormData form;
        ASSERT_NE(form.AddFile("file", path.c_str(), "text/plain"), nullptr);
        test::WriteFile(path, std::string(later, 'b'));
        server.Script(Reply(200));
        EXPECT_EQ(HttpPostForm(kHost, server.Port(), "/live", nullptr, form, nullptr, 0, nullptr),
                  XFER_ERR_INCOMPLETE)
            << later;
    }
    for (const auto& request : server.Requests()) {
        EXPECT_LT(request.body.size(), std::stoull(request.Header("Content-Length")));
        EXPECT_EQ(request.body.find("--\r\n"), std::string::npos) << "no closing delimiter";
    }
}

// Sizes past 2 GiB are counted in 64 bits: a body that fits 4 GiB - 1 is declared exactly, a
// longer one is refused before any request. Sparse files keep this cheap.
TEST(HttpPostFile, LargeFilesAreDeclaredExactlyOrRefused) {
    HttpTestServer server;
    TempDir dir;
    const std::string large = dir.File("large.bin"), huge = dir.File("huge.bin");
    test::WriteFile(large, "");
    std::filesystem::resize_file(large, 3ull << 30);
    test::WriteFile(huge, "");
    std::filesystem::resize_file(huge, 4ull << 30);

    FormData form;
    ASSERT_NE(form.AddFile("file", large.c_str(), "application/unknown"), nullptr);
    EXPECT_EQ(form.Parts().front().size, std::int64_t(3ull << 30));
    const std::uint64_t length = form.ContentLength();

    HttpReply hangUp = Reply(413);
    hangUp.readBody = false;
    server.Script(hangUp);
    EXPECT_EQ(HttpPostForm(kHost, server.Port(), "/big", nullptr, form, nullptr, 0, nullptr),
              XFER_ERR_INCOMPLETE);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Content-Length"), std::to_string(length));

    ProgressLog log;
    EXPECT_EQ(HttpPostFile(kHost, server.Port(), "/huge", nullptr, huge.c_str(),
                           &ProgressLog::Record, 0, &log),
              XFER_ERR_INCOMPLETE);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_TRUE(log.calls.empty());
}

// A body past 2 GiB goes out whole, closing delimiter last, under its exact declared length.
TEST(HttpPostFile, SendsABodyPast2GiB) {
    HttpTestServer server;
    TempDir dir;
    const std::string path = dir.File("past2g.bin");
    test::WriteFile(path, "");
    std::filesystem::resize_file(path, (2ull << 30) + 100);
    HttpReply reply = Reply(200);
    reply.keepBody = 4096;
    server.Script(reply);

    ASSERT_EQ(
        HttpPostFile(kHost, server.Port(), "/big", nullptr, path.c_str(), nullptr, 0, nullptr),
        XFER_OK);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string boundary = BoundaryOf(requests[0]);
    const std::string header = FilePartHeader(boundary, "file", path, "application/unknown");
    const std::uint64_t length = header.size() + (2ull << 30) + 100 + 47;
    EXPECT_EQ(requests[0].Header("Content-Length"), std::to_string(length));
    EXPECT_EQ(requests[0].bodyLength, length);
    EXPECT_EQ(requests[0].body.substr(0, header.size()), header);
    const std::string tail = requests[0].tail;
    EXPECT_EQ(tail.substr(tail.size() - 47), "\r\n--" + boundary + "--\r\n");
    EXPECT_EQ(tail.substr(0, tail.size() - 47), std::string(tail.size() - 47, '\0'));
}

// ---- Download --------------------------------------------------------------------------------

TEST(HttpGetToFile, StoresTheBodyAndReportsProgress) {
    HttpTestServer server;
    TempDir dir;
    const std::string body = BinaryContent(5 * 8192 + 123);
    server.Script(Reply(200, body));
    ProgressLog log;
    const std::string dest = dir.File("got.bin");
    ASSERT_EQ(Download(server, dest, "/files/got.bin?v=2", &log), XFER_OK);
    EXPECT_TRUE(test::ReadFile(dest) == body);
    EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"got.bin"});

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine(), "GET /files/got.bin?v=2 HTTP/1.1");
    EXPECT_EQ(requests[0].Header("User-Agent"), "stellkit http library");

    // (0, 0) before the request, (length, 0) once the status is known, then one call per piece
    // of at most 8192 bytes, the last one at the whole length.
    const int length = int(body.size());
    ASSERT_GE(log.calls.size(), 3u + body.size() / 8192);
    EXPECT_EQ(log.calls[0], std::make_pair(0, 0));
    EXPECT_EQ(log.calls[1], std::make_pair(length, 0));
    for (std::size_t i = 2; i < log.calls.size(); ++i) {
        EXPECT_EQ(log.calls[i].first, length);
        const int step = log.calls[i].second - log.calls[i - 1].second;
        EXPECT_TRUE(step > 0 && step <= 8192) << "piece " << i << ": " << step;
    }
    EXPECT_EQ(log.calls.back().second, length);
}

// Header lines add or replace; a line with an empty value removes the header.
TEST(HttpGetToFile, AddsOrReplacesCallerHeaders) {
    HttpTestServer server;
    TempDir dir;
    server.Script(Reply(200, "x"));
    ASSERT_EQ(Download(server, dir.File("h.txt"), "/h", nullptr,
                       "X-Token: a\r\nX-Gone: 1\r\nX-Token: b\r\nX-Gone:\r\nUser-Agent: probe/1"),
              XFER_OK);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("X-Token"), "b");
    EXPECT_TRUE(requests[0].Headers("X-Gone").empty());
    EXPECT_EQ(requests[0].Header("User-Agent"), "probe/1");
}

// The control hands over a null string for an empty script argument.
TEST(HttpTransfers, MissingObjectAsksForTheRoot) {
    HttpTestServer server;
    TempDir dir;
    const std::string path = dir.File("r.txt");
    test::WriteFile(path, "root");
    server.Script(Reply(200, "index"));
    server.Script(Reply(200));
    EXPECT_EQ(
        HttpGetToFile(kHost, server.Port(), nullptr, nullptr, path.c_str(), nullptr, 0, nullptr),
        XFER_OK);
    EXPECT_EQ(
        HttpPostFile(kHost, server.Port(), nullptr, nullptr, path.c_str(), nullptr, 0, nullptr),
        XFER_OK);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].RequestLine(), "GET / HTTP/1.1");
    EXPECT_EQ(requests[1].RequestLine(), "POST / HTTP/1.1");
}

// Anything but 200 leaves an existing destination exactly as it was, and no stray file.
TEST(HttpGetToFile, OnlyStatus200TouchesTheDestination) {
    HttpTestServer server;
    TempDir dir;
    const std::string dest = dir.File("keep.txt");
    test::WriteFile(dest, "previous content");
    for (const int status : {201, 204, 206, 404, 500}) {
        server.Script(Reply(status, status == 204 ? "" : "error page"));
        ProgressLog log;
        EXPECT_EQ(Download(server, dest, "/s", &log), XFER_ERR_HTTP_STATUS) << status;
        EXPECT_EQ(log.calls, (std::vector<std::pair<int, int>>{{0, 0}})) << status;
    }
    EXPECT_EQ(test::ReadFile(dest), "previous content");
    EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"keep.txt"});

    server.Script(Reply(200, "new content"));
    EXPECT_EQ(Download(server, dest), XFER_OK);
    EXPECT_EQ(test::ReadFile(dest), "new content");
}

TEST(HttpGetToFile, FollowsRedirects) {
    HttpTestServer server;
    TempDir dir;
    server.Script(Reply(302, "", "Location: /moved/final\r\n"));
    server.Script(Reply(
        301, "", "Location: http://127.0.0.1:" + std::to_string(server.Port()) + "/last\r\n"));
    server.Script(Reply(200, "arrived"));
    const std::string dest = dir.File("r.txt");
    ASSERT_EQ(Download(server, dest, "/start"), XFER_OK);
    EXPECT_EQ(test::ReadFile(dest), "arrived");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].RequestLine(), "GET /moved/final HTTP/1.1");
    EXPECT_EQ(requests[2].RequestLine(), "GET /last HTTP/1.1");
}

// Without Content-Length (body up to the close, or chunked) the total is 0 throughout.
TEST(HttpGetToFile, BodyWithoutLength) {
    HttpTestServer server;
    TempDir dir;
    const std::string body = BinaryContent(20000);
    HttpReply untilClose{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body};
    HttpReply chunked{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                      "5\r\nhello\r\n7\r\n, world\r\n0\r\n\r\n"};
    server.Script(untilClose);
    server.Script(chunked);

    ProgressLog log;
    ASSERT_EQ(Download(server, dir.File("a.bin"), "/a", &log), XFER_OK);
    EXPECT_TRUE(test::ReadFile(dir.File("a.bin")) == body);
    for (const auto& [total, done] : log.calls)
        EXPECT_EQ(total, 0);
    EXPECT_EQ(log.calls.back().second, int(body.size()));

    ASSERT_EQ(Download(server, dir.File("b.txt"), "/b"), XFER_OK);
    EXPECT_EQ(test::ReadFile(dir.File("b.txt")), "hello, world");
}

TEST(HttpGetToFile, EmptyBodyGivesEmptyFile) {
    HttpTestServer server;
    TempDir dir;
    const std::string dest = dir.File("empty.txt");
    test::WriteFile(dest, "to be emptied");
    server.Script(Reply(200, ""));
    ProgressLog log;
    ASSERT_EQ(Download(server, dest, "/e", &log), XFER_OK);
    EXPECT_TRUE(test::Exists(dest));
    EXPECT_EQ(test::ReadFile(dest), "");
    EXPECT_EQ(log.calls, (std::vector<std::pair<int, int>>{{0, 0}, {0, 0}}));
}

// A body cut short is a failure, and the file that was there survives it.
TEST(HttpGetToFile, ConnectionClosedMidBodyKeepsTheOldFile) {
    HttpTestServer server;
    TempDir dir;
    const std::string dest = dir.File("old.bin");
    test::WriteFile(dest, "old");
    server.Script(
        HttpReply{"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n" +
                  BinaryContent(30000)});
    EXPECT_EQ(Download(server, dest), XFER_ERR_INCOMPLETE);
    EXPECT_TRUE(test::ReadFile(dest) == "old");
    EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"old.bin"});
}

TEST(HttpTransfers, ConnectionRefusedIsASendFailure) {
    TempDir dir;
    const std::uint16_t port = test::UnusedPort();
    const std::string dest = dir.File("never.txt");
    test::WriteFile(dest, "kept");
    EXPECT_EQ(HttpGetToFile(kHost, port, "/", nullptr, dest.c_str(), nullptr, 0, nullptr),
              XFER_ERR_SEND);
    EXPECT_EQ(test::ReadFile(dest), "kept");
    EXPECT_EQ(HttpPostFile(kHost, port, "/", nullptr, dest.c_str(), nullptr, 0, nullptr),
              XFER_ERR_SEND);
    EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"never.txt"});
}

// A destination that cannot be replaced: 40 once the status is known, the old file kept.
TEST(HttpGetToFile, DestinationThatCannotBeReplaced) {
    HttpTestServer server;
    TempDir dir;
    const std::string folder = dir.File("sub");
    ASSERT_TRUE(platform::CreateFolder(folder.c_str()));
    const std::string locked = dir.File("locked.txt");
    test::WriteFile(locked, "read-only");
    ASSERT_TRUE(platform::SetAttributes(locked.c_str(), platform::FileAttributes::ReadOnly));

    server.Script(Reply(200, "body"));
    server.Script(Reply(200, "body"));
    EXPECT_EQ(Download(server, folder), XFER_ERR_LOCAL_FILE);
    EXPECT_TRUE(platform::IsFolder(folder.c_str()));
    EXPECT_EQ(Download(server, locked), XFER_ERR_LOCAL_FILE);
    EXPECT_EQ(test::ReadFile(locked), "read-only");
    EXPECT_EQ(server.Requests().size(), 2u);
    auto names = FolderNames(dir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"locked.txt", "sub"}));
    test::MakeWritable(locked);
}

#ifndef _WIN32
// A disk that takes fewer bytes than were read: 42, and the old file survives.
TEST(HttpGetToFile, ShortWriteKeepsTheOldFile) {
    HttpTestServer server;
    TempDir dir;
    const std::string dest = dir.File("full.bin");
    test::WriteFile(dest, "before");
    server.Script(Reply(200, BinaryContent(4 << 20)));

    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const int result = Download(server, dest);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(result, XFER_ERR_FILE_WRITE);
    EXPECT_TRUE(test::ReadFile(dest) == "before");
    EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"full.bin"});
}
#endif

// ---- Destination folder ----------------------------------------------------------------------

TEST(CreateDownloadFolder, CreatesMissingLevelsOrGives40) {
    TempDir dir;
    const char sep = platform::PathSeparator();
    const std::string deep = dir.Folder() + "a" + sep + "b" + sep + "c";
    EXPECT_EQ(CreateDownloadFolder((deep + sep + "file.zip").c_str()), XFER_OK);
    EXPECT_TRUE(platform::IsFolder(deep.c_str()));
    EXPECT_EQ(CreateDownloadFolder((deep + sep + "again.zip").c_str()), XFER_OK);

    // No folder part at all, or a file standing where a folder must be.
    EXPECT_EQ(CreateDownloadFolder("file.zip"), XFER_ERR_LOCAL_FILE);
    EXPECT_EQ(CreateDownloadFolder(""), XFER_ERR_LOCAL_FILE);
    EXPECT_EQ(CreateDownloadFolder(nullptr), XFER_ERR_LOCAL_FILE);
    test::WriteFile(dir.File("plain"), "x");
    EXPECT_EQ(CreateDownloadFolder((dir.File("plain") + sep + "x" + sep + "f.zip").c_str()),
              XFER_ERR_LOCAL_FILE);
}

// ---- Failures a live server cannot produce ---------------------------------------------------

TEST(HttpTransfers, EachFailingStepHasItsCode) {
    HttpTestServer server;
    TempDir dir;
    const std::string dest = dir.File("d.txt"), upload = dir.File("u.txt");
    test::WriteFile(dest, "untouched");
    test::WriteFile(upload, "payload");
    FormData form;
    ASSERT_NE(form.AddFile("file", upload.c_str(), "text/plain"), nullptr);

    const std::pair<FailingSession::Step, int> cases[] = {
        {FailingSession::kOpen, XFER_ERR_OPEN},
        {FailingSession::kConnect, XFER_ERR_CONNECT},
        {FailingSession::kOpenRequest, XFER_ERR_REQUEST},
        {FailingSession::kStatus, XFER_ERR_STATUS_QUERY},
    };
    for (const auto& [step, code] : cases) {
        server.Script(Reply(200, "body"));
        server.Script(Reply(200));
        FailingSession get(step), post(step);
        EXPECT_EQ(detail::HttpGetToFile(get, kHost, server.Port(), "/g", nullptr, dest.c_str(),
                                        nullptr, 0, nullptr),
                  code);
        EXPECT_EQ(detail::HttpPostForm(post, kHost, server.Port(), "/p", nullptr, form, nullptr, 0,
                                       nullptr),
                  code);
    }
    EXPECT_EQ(test::ReadFile(dest), "untouched");
    // Only the status query comes after the requests went out; the upload was complete then.
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].body.size(), form.ContentLength());
}

// The 32-bit callback keeps the ratio of counts beyond its range.
TEST(ReportProgress, HalvesLargeCountsTogether) {
    ProgressLog log;
    detail::ReportProgress(&ProgressLog::Record, &log, 3ull << 30, 3ull << 29);
    detail::ReportProgress(&ProgressLog::Record, &log, 1000, 999);
    detail::ReportProgress(nullptr, &log, 1, 1);
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0], std::make_pair(int(3u << 29), int(3u << 28)));
    EXPECT_EQ(log.calls[1], std::make_pair(1000, 999));
}

// A control character in a server name, request target or header value could split the request
// on the wire: such input is refused with 99 before any connection, and nothing is written.
TEST(HttpTransfers, ControlCharactersAreRefusedBeforeAnyConnection) {
    HttpTestServer server;
    TempDir dir;
    const std::string file = dir.File("up.txt");
    test::WriteFile(file, "x");
    const std::string dest = dir.File("down.txt");
    struct Case {
        const char* server;
        const char* object;
        const char* header;
    };
    const Case cases[] = {
        {"127.0.0.1\r\nX-Injected: 1", "/a", nullptr},
        {"127.0.0.1\t", "/a", nullptr},
        {kHost, "/a HTTP/1.1\r\nX-Injected: 1\r\n\r\nGET /b", nullptr},
        {kHost, "/a\nb", nullptr},
        {kHost, "/a\x7F", nullptr},
        {kHost, "/a\tb", nullptr},
        {kHost, "/a", "X-A: 1\x01"},
        {kHost, "/a", "X-A: 1\r\nX-B: \x1b[2J"},
        {kHost, "/a", "X-A: 1\x7F"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckTransferInput(c.server, c.object, c.header), XFER_ERR_INCOMPLETE);
        EXPECT_EQ(HttpGetToFile(c.server, server.Port(), c.object, c.header, dest.c_str(), nullptr,
                                0, nullptr),
                  XFER_ERR_INCOMPLETE)
            << c.object;
        EXPECT_EQ(HttpPostFile(c.server, server.Port(), c.object, c.header, file.c_str(), nullptr,
                               0, nullptr),
                  XFER_ERR_INCOMPLETE)
            << c.object;
    }
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"up.txt"});
}

// TAB inside a value and CR/LF between the lines are what a header block is made of.
TEST(HttpTransfers, TabsAndLineBreaksOfTheHeaderBlockPass) {
    HttpTestServer server;
    TempDir dir;
    server.Script(Reply(200, "x"));
    ASSERT_EQ(Download(server, dir.File("t.txt"), "/t", nullptr, "X-A: a\tb\r\nX-B: c\nX-C: d"),
              XFER_OK);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("X-A"), "a\tb");
    EXPECT_EQ(requests[0].Header("X-B"), "c");
    EXPECT_EQ(requests[0].Header("X-C"), "d");
    EXPECT_EQ(requests[0].head.find("X-Injected"), std::string::npos);
}

// A file name is quoted in the part header as it is: one holding a quote or a line break cannot
// be sent faithfully, so the upload is refused before it starts.
TEST(HttpPostForm, UnquotableNamesAreRefused) {
    HttpTestServer server;
    TempDir dir;
    const std::string plain = dir.File("plain.txt");
    test::WriteFile(plain, "x");
    for (const char* name : {"a\"b.txt", "a\rb.txt", "a\nb.txt"}) {
        EXPECT_EQ(CheckTransferInput(kHost, "/u", nullptr, name), XFER_ERR_INCOMPLETE) << name;
#ifndef _WIN32 // Windows file names cannot hold these at all
        const std::string path = dir.File(name);
        test::WriteFile(path, "content");
        EXPECT_EQ(
            HttpPostFile(kHost, server.Port(), "/u", nullptr, path.c_str(), nullptr, 0, nullptr),
            XFER_ERR_INCOMPLETE)
            << name;
#endif
    }
    FormData form;
    ASSERT_TRUE(form.AddFile("file", plain.c_str(), "text/plain"));
    ASSERT_TRUE(form.AddField("a\"; filename=\"evil", "v"));
    EXPECT_EQ(HttpPostForm(kHost, server.Port(), "/u", nullptr, form, nullptr, 0, nullptr),
              XFER_ERR_INCOMPLETE);
    EXPECT_EQ(server.Connections(), 0);
}

// The boundary comes from the system's random source: forms differ, and the process's own rand()
// sequence is left where the page's other components put it.
TEST(FormData, BoundaryLeavesTheCLibraryGeneratorAlone) {
    std::srand(12345);
    const int first = std::rand();
    std::srand(12345);
    const FormData one, two;
    EXPECT_EQ(std::rand(), first);
    EXPECT_NE(one.Boundary(), two.Boundary());
    EXPECT_EQ(one.Boundary().size(), 39u);
    EXPECT_EQ(one.Boundary().find_first_not_of("0123456789abcdef", 23), std::string::npos);
}
