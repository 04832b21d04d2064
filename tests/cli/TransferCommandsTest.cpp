#include "cli/TransferCommands.h"

#include <gtest/gtest.h>

using narvo::cli::HttpUrl;
using narvo::cli::ParseHttpUrl;

TEST(ParseHttpUrl, SplitsHostPortAndTarget) {
    const struct {
        const char* url;
        const char* host;
        int port;
        const char* object;
        bool secure;
    } cases[] = {
        {"http://example.com", "example.com", 80, "/", false},
        {"https://example.com/a/b.zip", "example.com", 443, "/a/b.zip", true},
        {"HTTPS://Example.com:8443/x?y=1&z=%20#frag", "Example.com", 8443, "/x?y=1&z=%20", true},
        {"http://h?q=1", "h", 80, "/?q=1", false},
        {"http://127.0.0.1:1/", "127.0.0.1", 1, "/", false},
        {"http://[::1]:8080/v6", "::1", 8080, "/v6", false},
        {"https://[fe80::1]", "fe80::1", 443, "/", true},
        {"http://h/../a/./b", "h", 80, "/../a/./b", false},
        {"http://h:/x", "h", 80, "/x", false}, // an empty port is the default one
    };
    for (const auto& c : cases) {
        HttpUrl url;
        std::string error;
        ASSERT_TRUE(ParseHttpUrl(c.url, url, error)) << c.url << ": " << error;
        EXPECT_EQ(url.host, c.host) << c.url;
        EXPECT_EQ(url.port, c.port) << c.url;
        EXPECT_EQ(url.object, c.object) << c.url;
        EXPECT_EQ(url.secure, c.secure) << c.url;
    }
}

TEST(ParseHttpUrl, RefusesWhatItCannotSend) {
    for (const char* bad :
         {"ftp://h/x", "h/x", "http://", "http:///x", "http://h:0/", "http://h:65536/",
          "http://h:8o/", "http://u:p@h/", "http://[::1/", "http://[::1]x/",
          // Hosts that would reach the client as another URL: found by fuzzing.
          "http://127.0.0.1:80:1]:8443/upload", "http://[127.0:].]:18080/", "http://a b/",
          "http://h\\x/", "http://[h]/", "http://a:b:80/", "http://h\r\nX: y/"}) {
        HttpUrl url;
        std::string error;
        EXPECT_FALSE(ParseHttpUrl(bad, url, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}
