// The registration script language, applied to a scratch key of the current user.
#include "module/Registrar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/WindowsSupport.h"

using namespace narvo;
using namespace narvo::test;
using namespace std::literals;

namespace {

const std::wstring kScratch = L"Software\\NarvoRegistrarTest";

class Registrar : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kScratch.c_str()); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kScratch.c_str()); }

    std::vector<std::string> Tree() const {
        std::vector<std::string> lines;
        for (const auto& line : DumpRegistryTree(HKEY_CURRENT_USER, kScratch))
            lines.push_back(Utf8(line.substr(kScratch.size())));
        return lines;
    }
};

const std::vector<RegistryReplacement> kReplacements = {
    {L"NAME", L"it's"}, {L"Dir", L"C:\\a b"}, {L"EMPTY", L""}};

} // namespace

TEST_F(Registrar, WritesKeysValuesQuotingAndReplacements) {
    const wchar_t* script = LR"(HKCU { NoRemove Software { NoRemove NarvoRegistrarTest {
        Plain = s 'one'
        'With Space' = s '%NAME% ''quoted'' 100%%'
        {
            val Named = s '%dir%\x'
            Empty
        }
        '{5A1F}' { val '' = s 'default through val' }
    } } })";
    ASSERT_EQ(ApplyRegistryScript(script, kReplacements, true), S_OK);
    EXPECT_EQ(Tree(), (std::vector<std::string>{
                          "",
                          "\\Plain",
                          "\\Plain [(default)] = \"one\"",
                          "\\With Space",
                          "\\With Space [(default)] = \"it's 'quoted' 100%\"",
                          "\\With Space [Named] = \"C:\\a b\\x\"",
                          "\\With Space\\Empty",
                          "\\{5A1F}",
                          "\\{5A1F} [(default)] = \"default through val\"",
                      }));
}

TEST_F(Registrar, RemovingKeepsNoRemoveKeysAndDeletesTheRestWithTheirSubkeys) {
    const wchar_t* script = LR"(HKCU { NoRemove Software { NoRemove NarvoRegistrarTest {
        val Top = s 't'
        Gone = s 'g' { Below = s 'b' }
        NoRemove Kept { Listed = s 'l' }
    } } })";
    ASSERT_EQ(ApplyRegistryScript(script, {}, true), S_OK);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, (kScratch + L"\\Gone\\Below\\Extra").c_str(), &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, (kScratch + L"\\Kept\\Other").c_str(), &key),
              ERROR_SUCCESS);
    RegCloseKey(key);

    ASSERT_EQ(ApplyRegistryScript(script, {}, false), S_OK);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"", "\\Kept", "\\Kept\\Other"}));
    // A second removal finds nothing to remove and is content.
    EXPECT_EQ(ApplyRegistryScript(script, {}, false), S_OK);
}

TEST_F(Registrar, ForceRemoveRebuildsTheKey) {
    const wchar_t* script =
        LR"(HKCU { NoRemove Software { NoRemove NarvoRegistrarTest { ForceRemove K = s 'v' } } })";
    ASSERT_EQ(ApplyRegistryScript(script, {}, true), S_OK);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, (kScratch + L"\\K\\Old").c_str(), &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(ApplyRegistryScript(script, {}, true), S_OK);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"", "\\K", "\\K [(default)] = \"v\""}));
}

// Removing a key with an empty name emptied its parent: for a root, the whole hive.
TEST_F(Registrar, AKeyWithoutANameIsRefusedBeforeRemovingAnything) {
    const wchar_t* keep = LR"(HKCU { NoRemove Software { NoRemove NarvoRegistrarTest {
        Kept = s 'k' } } })";
    ASSERT_EQ(ApplyRegistryScript(keep, {}, true), S_OK);
    const wchar_t* wipe = LR"(HKCU { NoRemove Software { NoRemove NarvoRegistrarTest {
        '' } } })";
    EXPECT_EQ(ApplyRegistryScript(wipe, {}, false), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    EXPECT_EQ(Tree(), (std::vector<std::string>{"", "\\Kept", "\\Kept [(default)] = \"k\""}));
}

TEST_F(Registrar, AScriptThatDoesNotParseChangesNothing) {
    const std::wstring prefix =
        L"HKCU { NoRemove Software { NoRemove NarvoRegistrarTest { A = s 'a' ";
    for (const std::wstring& bad : {
             prefix + L"B = s 'unterminated } } }",
             prefix + L"B = d '1' } } }",         // only text values are written
             prefix + L"B = s '%UNKNOWN%' } } }", // an unknown replacement
             prefix + L"B { C = s 'c' } } }",     // a block left open
             prefix + L"val = s 'x' } } } }",     // a value without its name
             std::wstring(L"HKXX { A = s 'a' }"), // no such root
             // Key names that would name the parent itself (or another key than written).
             prefix + L"'' = s 'x' } } }",
             prefix + L"'%EMPTY%' { C = s 'c' } } }",
             prefix + L"'\\B' } } }",
             prefix + L"'B\\' } } }",
             prefix + L"'B\\\\C' } } }",
             prefix + std::wstring(L"'\0B' } } }"sv),
             prefix + std::wstring(L"val 'B\0C' = s 'x' } } }"sv),
         }) {
        EXPECT_EQ(ApplyRegistryScript(bad, kReplacements, true),
                  HRESULT_FROM_WIN32(ERROR_INVALID_DATA))
            << Utf8(bad);
        EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kScratch)) << Utf8(bad);
    }
}
