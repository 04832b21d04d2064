// Arbitrary registration scripts (UTF-8 text) registered and then removed against an in-memory
// registry holding keys of other programs. A script that does not parse changes nothing; no
// script touches a key it does not name; every handle opened is closed again.
#include "module/Registrar.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/shim/Registry.h"

#include <cwctype>

using namespace narvo;

namespace {

// UTF-8 to UTF-16 code units as the module's script text would hold them; a byte that does not
// start a sequence stands for itself.
std::wstring Decode(std::string_view bytes) {
    std::wstring text;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const int extra = lead >= 0xE0 && lead < 0xF0 ? 2 : lead >= 0xC0 && lead < 0xE0 ? 1 : 0;
        if (extra && i + extra < bytes.size()) {
            unsigned code = lead & (extra == 2 ? 0x0F : 0x1F);
            for (int k = 1; k <= extra; ++k)
                code = code << 6 | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
            text += wchar_t(code);
            i += extra + 1;
        } else {
            text += wchar_t(lead);
            ++i;
        }
    }
    return text;
}

std::wstring Folded(std::wstring_view text) {
    std::wstring folded(text);
    for (wchar_t& c : folded)
        c = wchar_t(std::towlower(wint_t(c)));
    return folded;
}

// Keys and values of other programs beside the ones a script names; their names occur in no
// replacement.
void PlantOthers() {
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        fuzz::RegistryKey& key = fuzz::RegistryRoot(root);
        key = {};
        key.values[L"bystander"] = L"root value";
        key.keys[L"bystander"].values[L"kept"] = L"yes";
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring script = Decode(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::vector<RegistryReplacement> replacements = {
        {L"APPID", L"{6F1A2B3C-0000-4000-8000-00000000A11D}"},
        {L"MODULEGUID", L"{6F1A2B3C-0000-4000-8000-00000000A11D}"},
        {L"MODULE", L"C:\\Program Files\\Narvo\\Narvo.dll"},
        {L"MODULETYPE", L"InprocServer32"},
        {L"FriendlyName", L"Narvo Viewer"},
        {L"CLSID", L"{6F1A2B3C-0000-4000-8000-00000000C1D0}"},
    };
    // A script that names the planted keys may change them; the checks below are for the rest.
    const std::wstring folded = Folded(script);
    const bool namesOthers = folded.find(L"bystander") != std::wstring::npos;

    PlantOthers();
    const fuzz::RegistryKey before = fuzz::RegistryRoot(HKEY_CLASSES_ROOT);
    for (const bool registering : {true, false}) {
        const HRESULT hr = ApplyRegistryScript(script, replacements, registering);
        FUZZ_REQUIRE(fuzz::OpenRegistryHandles() == 0, "%d registry handles left open",
                     fuzz::OpenRegistryHandles());
        if (hr == HRESULT_FROM_WIN32(ERROR_INVALID_DATA))
            FUZZ_REQUIRE(fuzz::RegistryRoot(HKEY_CLASSES_ROOT) == before,
                         "a script that does not parse changed the registry");
        if (namesOthers) continue;
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            fuzz::RegistryKey& key = fuzz::RegistryRoot(root);
            const auto bystander = key.keys.find(L"bystander");
            FUZZ_REQUIRE(bystander != key.keys.end() && bystander->second.values.count(L"kept") &&
                             key.values.count(L"bystander"),
                         "%s removed a key or value it does not name",
                         registering ? "registering" : "removing");
        }
    }
    return 0;
}
