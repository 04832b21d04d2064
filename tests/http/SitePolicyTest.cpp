// The allowed-sites list as an administrator writes it and as hostile pages try to get past it.
#include "http/SitePolicy.h"

#include <gtest/gtest.h>

using namespace narvo;

namespace {

bool Allows(std::vector<std::string> entries, const char* url) {
    return SiteListAllows(entries, url);
}

} // namespace

TEST(SitePolicy, OriginsMatchOnSchemeHostAndPort) {
    const std::vector<std::string> list = {"https://portal.example.go.kr", "http://intranet:8080",
                                           "https://[::1]:8443"};
    for (const char* url : {
             "https://portal.example.go.kr/",
             "https://portal.example.go.kr/app/page.html?x=1#top",
             "HTTPS://Portal.Example.GO.KR/upper",
             "https://portal.example.go.kr:443/explicit-default-port",
             "https://portal.example.go.kr./trailing-dot",
             "https://portal.example.go.kr",
             "https://someone@portal.example.go.kr/", // the host is still the portal
             "http://intranet:8080/",
             "http://INTRANET:08080/leading-zero",
             "https://[::1]:8443/",
         })
        EXPECT_TRUE(Allows(list, url)) << url;

    for (const char* url : {
             "https://portal.example.go.kr.evil.test/",
             "https://evil.test/?https://portal.example.go.kr",
             "https://evil.test/#https://portal.example.go.kr",
             "https://evil.test/https://portal.example.go.kr/",
             "https://user@evil.test",
             "https://portal.example.go.kr@evil.test/",
             "https://portal.example.go.kr:pw@evil.test/",
             "https://evil.test\\@portal.example.go.kr/", // a browser goes to evil.test
             "http://portal.example.go.kr/",              // another scheme
             "https://portal.example.go.kr:8443/",        // another port
             "https://portal%2Eexample.go.kr/",           // a percent-encoded host
             "https://xportal.example.go.kr/",
             "https://example.go.kr/",
             "http://intranet/",       // port 80, not 8080
             "http://intranet:80800/", // no such port
             "http://intranet:0/",
             "https://[::2]:8443/",
             "https://portal.example.go.kr..",
             "file:///C:/pages/portal.html",
             "javascript:'https://portal.example.go.kr'",
             "about:blank",
             "",
             "https://",
             "https:portal.example.go.kr",
         })
        EXPECT_FALSE(Allows(list, url)) << url;
}

TEST(SitePolicy, WildcardCoversSubdomainsOnly) {
    const std::vector<std::string> list = {"https://*.example.go.kr", "http://*.corp.test:8080"};
    EXPECT_TRUE(Allows(list, "https://a.example.go.kr/"));
    EXPECT_TRUE(Allows(list, "https://a.b.EXAMPLE.go.kr/"));
    EXPECT_TRUE(Allows(list, "http://x.corp.test:8080/"));
    EXPECT_FALSE(Allows(list, "https://example.go.kr/"));
    EXPECT_FALSE(Allows(list, "https://badexample.go.kr/"));
    EXPECT_FALSE(Allows(list, "https://a.example.go.kr.evil.test/"));
    EXPECT_FALSE(Allows(list, "http://a.example.go.kr/"));
    EXPECT_FALSE(Allows(list, "http://x.corp.test/"));
    // Only one leading label may be a wildcard; anything else is a malformed entry.
    for (const char* entry : {"https://*", "https://*.*.example.go.kr", "https://a.*.go.kr",
                              "https://*example.go.kr", "*.example.go.kr"})
        EXPECT_FALSE(Allows({entry}, "https://a.example.go.kr/")) << entry;
}

TEST(SitePolicy, EntriesAreOriginsOnly) {
    // Blanks and a closing slash are forgiven; a path, a query or a user name make no origin.
    EXPECT_TRUE(Allows({"  https://portal.example.go.kr/ "}, "https://portal.example.go.kr/x"));
    for (const char* entry : {"https://portal.example.go.kr/app", "https://portal.example.go.kr?",
                              "https://u@portal.example.go.kr", "portal.example.go.kr",
                              "https://portal.example.go.kr:99999", ""})
        EXPECT_FALSE(Allows({entry}, "https://portal.example.go.kr/app")) << entry;
}

TEST(SitePolicy, FileEntryCoversLocalPagesOnly) {
    const std::vector<std::string> list = {"file:"};
    for (const char* url : {"file:///C:/pages/a.html", "FILE:///c:/x", "file://localhost/C:/a",
                            "file:/C:/a.html", "file:C:/a.html"})
        EXPECT_TRUE(Allows(list, url)) << url;
    for (const char* url :
         {"file://server/share/a.html", "https://portal.example.go.kr/", "http://localhost/"})
        EXPECT_FALSE(Allows(list, url)) << url;
    EXPECT_FALSE(Allows({"https://portal.example.go.kr"}, "file:///C:/a.html"));
    EXPECT_FALSE(Allows({"file://server"}, "file://server/share/a.html"));
}

TEST(SitePolicy, ZoneDefaults) {
    EXPECT_TRUE(SiteZoneAllows(0));
    EXPECT_TRUE(SiteZoneAllows(1));
    EXPECT_TRUE(SiteZoneAllows(2));
    EXPECT_FALSE(SiteZoneAllows(3));
    EXPECT_FALSE(SiteZoneAllows(4));
    EXPECT_FALSE(SiteZoneAllows(-1));
    EXPECT_FALSE(Allows({}, "https://portal.example.go.kr/")); // an empty list allows nothing
}
