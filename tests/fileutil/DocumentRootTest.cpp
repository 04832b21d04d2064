// The document folder's resolution on the POSIX build, where settings live under the XDG
// configuration folder. (The Windows build is tested through the control, against the registry.)
#ifndef _WIN32
#include "fileutil/DocumentRoot.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

using namespace narvo;
using narvo::test::TempDir;

namespace {

class DocumentRoot : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = dir_.path().string() + "/home";
        config_ = dir_.path().string() + "/config";
        setenv("HOME", home_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    }
    void TearDown() override {
        RestoreEnv("HOME", savedHome_);
        RestoreEnv("XDG_CONFIG_HOME", savedConfig_);
    }
    static std::optional<std::string> SavedEnv(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void RestoreEnv(const char* name, const std::optional<std::string>& value) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    std::string Stored() const {
        const std::string path = config_ + "/narvo/document_root";
        return test::Exists(path) ? test::ReadFile(path) : "(missing)";
    }
    void Store(const std::string& value) const {
        std::filesystem::create_directories(config_ + "/narvo");
        test::WriteFile(config_ + "/narvo/document_root", value);
    }

    const std::optional<std::string> savedHome_ = SavedEnv("HOME");
    const std::optional<std::string> savedConfig_ = SavedEnv("XDG_CONFIG_HOME");
    TempDir dir_;
    std::string home_, config_;
};

} // namespace

TEST_F(DocumentRoot, DefaultIsTheDocumentsFolderStoredForNextTime) {
    const std::string expected = home_ + "/Documents/";
    EXPECT_EQ(ResolveDocumentRoot(), expected);
    EXPECT_TRUE(std::filesystem::is_directory(home_ + "/Documents"));
    EXPECT_EQ(Stored(), expected);
    EXPECT_EQ(ResolveDocumentRoot(), expected);
}

TEST_F(DocumentRoot, StoredTextIsReturnedExactly) {
    Store("/srv/shared");
    EXPECT_EQ(ResolveDocumentRoot(), "/srv/shared");
    EXPECT_EQ(Stored(), "/srv/shared");
    const std::string longest(1023, 'x'); // the largest value that fits with its terminator
    Store(longest);
    EXPECT_EQ(ResolveDocumentRoot(), longest);
}

TEST_F(DocumentRoot, EmptyOrOversizedValuesAreReplacedByTheDefault) {
    for (const std::string& unusable : {std::string(), std::string(1024, 'x')}) {
        Store(unusable);
        EXPECT_EQ(ResolveDocumentRoot(), home_ + "/Documents/");
        EXPECT_EQ(Stored(), home_ + "/Documents/");
    }
}

TEST_F(DocumentRoot, WithoutAHomeTheLastResortIsStillAnswered) {
    unsetenv("HOME");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ResolveDocumentRoot(), "/");
}
#endif
