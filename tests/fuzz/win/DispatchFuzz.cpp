// The control's late-bound road fed generated calls: random members, flags, argument counts,
// VARIANT types and values (numbers at their limits, strings with lone surrogates, NULs and
// letters of other code pages, references, arrays, null objects), named arguments and missing
// out-pointers, with the script-string conversions run on the same strings. No sanitizer here
// (the mingw build has none): it checks what can be seen from outside — no crash, the caller's
// arguments left as they were, a result of the member's type, the failing argument's index in
// range, results only from the documented set — and prints one line like the native targets.
//
//   narvo_dispatch_fuzz SECONDS [SEED]       run for SECONDS from SEED (default: the time)
//   narvo_dispatch_fuzz --replay SEED N      run call N of SEED alone, printing it
//
// Members that would reach the network or open a dialog (downloads, uploads, the file dialog)
// only ever get a wrong argument count, so their calls end in the argument checks. Paths are
// relative and without dots or separators, so whatever a call writes stays in the scratch folder
// the harness works in.
#include <windows.h>
#include <oleauto.h>
#include <psapi.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "Narvo_h.h"
#include "com/ScriptString.h"
#include "tests/support/WindowsSupport.h"

namespace {

using Random = std::mt19937;

unsigned Pick(Random& random, unsigned count) {
    return unsigned(random() % count);
}

std::wstring RandomText(Random& random) {
    static const std::vector<std::wstring> pool = {L"",
                                                   L"ZIP",
                                                   L"zip",
                                                   L"a.zip",
                                                   L"out",
                                                   L"missing.zip",
                                                   L"\uD55C\uAE00",
                                                   L"\u00E4\u00F6",
                                                   std::wstring(L"x\0y", 3),
                                                   std::wstring(1, wchar_t(0xD800)),
                                                   std::wstring(1, wchar_t(0xDC00)),
                                                   std::wstring(40000, L'w'),
                                                   L".txt|",
                                                   L"Text\t*.txt",
                                                   L"-1",
                                                   L"2147483648",
                                                   L"1e400",
                                                   L"0x10",
                                                   L"  12  ",
                                                   L"TRUE"};
    if (Pick(random, 3) != 0) return pool[Pick(random, unsigned(pool.size()))];
    // Letters, digits, blanks, marks, other scripts, surrogates; never '.', ':', '/' or '\'.
    static const wchar_t alphabet[] = L"abcXYZ019 _-|\t\r\n%'\"\u00E4\u3042\uD55C\uFFFF\uFEFF";
    std::wstring text;
    const unsigned length = Pick(random, 4) == 0 ? Pick(random, 600) : Pick(random, 12);
    for (unsigned i = 0; i < length; ++i) {
        const unsigned what = Pick(random, 20);
        text += what == 0   ? wchar_t(0xD800 + Pick(random, 0x800))
                : what == 1 ? wchar_t(Pick(random, 0x10000))
                            : alphabet[Pick(random, unsigned(std::size(alphabet) - 1))];
        if (text.back() == L'.' || text.back() == L':' || text.back() == L'/' ||
            text.back() == L'\\')
            text.back() = L'_';
    }
    return text;
}

double RandomDouble(Random& random) {
    const double values[] = {0.0,          -0.0,          0.5,         -1.5,   2147483647.0,
                             2147483648.0, -2147483649.0, 1e300,       -1e300, HUGE_VAL,
                             -HUGE_VAL,    std::nan(""),  4294967296.0};
    return values[Pick(random, unsigned(std::size(values)))];
}

std::int32_t RandomInt(Random& random) {
    const std::int32_t values[] = {
        0, 1, -1, 2, 100, 0x7FFFFFFF, std::int32_t(0x80000000), 65535, -65536, 10000};
    return Pick(random, 3) == 0 ? std::int32_t(random())
                                : values[Pick(random, unsigned(std::size(values)))];
}

// One argument; referenced storage lives in store, which outlives the call.
struct Store {
    std::vector<LONG> longs = std::vector<LONG>(16);
    std::vector<BSTR> strings = std::vector<BSTR>(16, nullptr);
    std::vector<VARIANT> variants = std::vector<VARIANT>(16);
    std::vector<SAFEARRAY*> arrays;
    unsigned used = 0;
    Store() {
        for (VARIANT& v : variants)
            VariantInit(&v);
    }
    ~Store() {
        for (BSTR s : strings)
            SysFreeString(s);
        for (VARIANT& v : variants)
            VariantClear(&v);
        for (SAFEARRAY* a : arrays)
            SafeArrayDestroy(a);
    }
};

void MakeArgument(Random& random, VARIANT& v, Store& store, int depth = 0) {
    VariantInit(&v);
    const unsigned slot = store.used++ % 16;
    switch (Pick(random, depth > 0 ? 14 : 17)) {
    case 0:
        V_VT(&v) = VT_EMPTY;
        break;
    case 1:
        V_VT(&v) = VT_NULL;
        break;
    case 2:
        V_VT(&v) = VT_I2;
        V_I2(&v) = SHORT(RandomInt(random));
        break;
    case 3:
        V_VT(&v) = VT_I4;
        V_I4(&v) = RandomInt(random);
        break;
    case 4:
        V_VT(&v) = VT_R8;
        V_R8(&v) = RandomDouble(random);
        break;
    case 5:
    case 6: {
        const std::wstring text = RandomText(random);
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) =
            Pick(random, 10) == 0 ? nullptr : SysAllocStringLen(text.data(), UINT(text.size()));
        break;
    }
    case 7:
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = Pick(random, 2) ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case 8:
        V_VT(&v) = VT_ERROR;
        V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
        break;
    case 9:
        V_VT(&v) = VT_DATE;
        V_DATE(&v) = RandomDouble(random);
        break;
    case 10:
        V_VT(&v) = VT_UI4;
        V_UI4(&v) = ULONG(RandomInt(random));
        break;
    case 11:
        V_VT(&v) = VT_I8;
        V_I8(&v) = LONGLONG(RandomInt(random)) << Pick(random, 40);
        break;
    case 12:
        V_VT(&v) = VT_DISPATCH;
        V_DISPATCH(&v) = nullptr;
        break;
    case 13:
        V_VT(&v) = VT_CY;
        V_CY(&v).int64 = LONGLONG(RandomInt(random)) * 10000;
        break;
    case 14: // a reference to a number
        store.longs[slot] = RandomInt(random);
        V_VT(&v) = VT_BYREF | VT_I4;
        V_I4REF(&v) = &store.longs[slot];
        break;
    case 15: { // a reference to a string
        const std::wstring text = RandomText(random);
        SysFreeString(store.strings[slot]);
        store.strings[slot] = SysAllocStringLen(text.data(), UINT(text.size()));
        V_VT(&v) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&v) = &store.strings[slot];
        break;
    }
    default: // a reference to a variant, or an array of numbers
        if (Pick(random, 2)) {
            VariantClear(&store.variants[slot]);
            MakeArgument(random, store.variants[slot], store, depth + 1);
            V_VT(&v) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&v) = &store.variants[slot];
        } else {
            SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, Pick(random, 4));
            store.arrays.push_back(array);
            V_VT(&v) = VT_ARRAY | VT_I4 | VT_BYREF;
            V_ARRAYREF(&v) = &store.arrays.back();
        }
        break;
    }
}

// What a caller's argument looks like, deep enough to see a change made by the callee.
std::string Describe(const VARIANT& v) {
    char head[64];
    std::snprintf(head, sizeof head, "vt=%04x ", unsigned(V_VT(&v)));
    std::string text = head;
    const auto bytes = [&text](const void* p, std::size_t n) {
        text.append(static_cast<const char*>(p), n);
    };
    switch (V_VT(&v)) {
    case VT_BSTR:
        text += V_BSTR(&v) ? std::to_string(SysStringLen(V_BSTR(&v))) + ":" : "null";
        if (V_BSTR(&v)) bytes(V_BSTR(&v), SysStringByteLen(V_BSTR(&v)));
        break;
    case VT_BYREF | VT_I4:
        bytes(V_I4REF(&v), sizeof(LONG));
        break;
    case VT_BYREF | VT_BSTR:
        text += *V_BSTRREF(&v) ? std::to_string(SysStringLen(*V_BSTRREF(&v))) : "null";
        break;
    case VT_BYREF | VT_VARIANT:
        text += Describe(*V_VARIANTREF(&v));
        break;
    default:
        bytes(&v, sizeof v);
        break;
    }
    return text;
}

struct Call {
    DISPID id = 0;
    WORD flags = 0;
    std::vector<VARIANT> args;
    DISPID named = DISPID_PROPERTYPUT;
    UINT namedCount = 0;
    bool nullNamed = false, nullArgs = false, wantResult = true, wantException = true,
         wantArgErr = true;
};

constexpr UINT kShapeCounts[15] = {0, 0, 6, 3, 1, 1, 6, 1, 4, 3, 2, 1, 0, 0, 0};

Call MakeCall(Random& random, Store& store) {
    Call call;
    const DISPID ids[] = {-1, 0, 15, DISPID_VALUE, DISPID_NEWENUM, 0x7FFFFFFF};
    call.id = Pick(random, 8) == 0 ? ids[Pick(random, unsigned(std::size(ids)))]
                                   : DISPID(1 + Pick(random, 14));
    const WORD flags[] = {DISPATCH_METHOD,
                          DISPATCH_PROPERTYGET,
                          DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                          DISPATCH_PROPERTYPUT,
                          DISPATCH_PROPERTYPUTREF,
                          0,
                          0xFFFF};
    call.flags = flags[Pick(random, unsigned(std::size(flags)))];
    const UINT declared = call.id >= 1 && call.id <= 14 ? kShapeCounts[call.id] : 0;
    UINT count = Pick(random, 4) == 0 ? Pick(random, 9) : declared;
    // Downloads, uploads and the file dialog never get as far as running.
    if ((call.id == 2 || call.id == 6 || call.id == 9) && count == declared) count = declared + 1;
    if (call.id == 7 || call.id == 14) count = Pick(random, 2); // property get or put
    call.args.resize(count);
    for (VARIANT& arg : call.args)
        MakeArgument(random, arg, store);
    if (Pick(random, 6) == 0) {
        call.namedCount = Pick(random, 3);
        call.named = Pick(random, 3) ? DISPID_PROPERTYPUT : DISPID(Pick(random, 20));
        call.nullNamed = Pick(random, 8) == 0;
    }
    call.nullArgs = count > 0 && Pick(random, 30) == 0;
    call.wantResult = Pick(random, 5) != 0;
    call.wantException = Pick(random, 2) != 0;
    call.wantArgErr = Pick(random, 2) != 0;
    return call;
}

bool IsDocumentedResult(HRESULT hr) {
    switch (hr) {
    case S_OK:
    case S_FALSE:
    case DISP_E_BADPARAMCOUNT:
    case DISP_E_TYPEMISMATCH:
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_NONAMEDARGS:
    case DISP_E_BADVARTYPE:
    case E_INVALIDARG:
    case E_POINTER:
    case E_OUTOFMEMORY:
    case E_FAIL:
    case E_ACCESSDENIED: // a page the site lock refuses
        return true;
    default:
        return false;
    }
}

// The script-string conversions on the call's strings, in several code pages.
void CheckConversions(const VARIANT& v, Random& random) {
    if (V_VT(&v) != VT_BSTR) return;
    const UINT pages[] = {CP_ACP, CP_THREAD_ACP, 949, 932, 1252, 65001, 12345};
    const UINT page = pages[Pick(random, unsigned(std::size(pages)))];
    const std::string narrow = narvo::NarrowFromScript(V_BSTR(&v));
    const std::wstring wide = narvo::WideFromNarrow(
        narvo::NarrowFromWide(
            std::wstring_view(V_BSTR(&v) ? V_BSTR(&v) : L"", SysStringLen(V_BSTR(&v))), page),
        page);
    BSTR back = narvo::ScriptFromNarrow(narrow);
    bool ascii = true;
    for (UINT i = 0; i < SysStringLen(V_BSTR(&v)); ++i)
        ascii = ascii && V_BSTR(&v)[i] < 0x80;
    if (ascii && (SysStringLen(back) != SysStringLen(V_BSTR(&v)) ||
                  std::memcmp(back, V_BSTR(&v) ? V_BSTR(&v) : L"", SysStringByteLen(back)) != 0)) {
        std::printf(
            "fuzz property broken: ASCII text does not survive the script-string round trip\n");
        std::exit(1);
    }
    if (!narrow.empty() && !back) {
        std::printf("fuzz property broken: no script string for a non-empty text\n");
        std::exit(1);
    }
    SysFreeString(back);
    (void)wide;
}

struct Outcome {
    HRESULT hr;
    bool broken = false;
    std::string why;
};

Outcome RunCall(IDispatch* dispatch, Random& random, bool print) {
    Store store;
    Call call = MakeCall(random, store);
    for (const VARIANT& arg : call.args)
        CheckConversions(arg, random);
    std::vector<std::string> before;
    for (const VARIANT& arg : call.args)
        before.push_back(Describe(arg));
    if (print) {
        std::printf("call id=%ld flags=%04x args=%zu named=%u(%ld%s)%s%s%s%s\n", long(call.id),
                    call.flags, call.args.size(), call.namedCount, long(call.named),
                    call.nullNamed ? ",null" : "", call.nullArgs ? " null-args" : "",
                    call.wantResult ? " result" : "", call.wantException ? " excepinfo" : "",
                    call.wantArgErr ? " argerr" : "");
        for (const std::string& text : before)
            std::printf("  arg %.40s\n", text.c_str());
        std::fflush(stdout);
    }

    DISPPARAMS params{};
    params.cArgs = UINT(call.args.size());
    params.rgvarg = call.nullArgs ? nullptr : call.args.data();
    DISPID named[2] = {call.named, call.named};
    params.cNamedArgs = call.namedCount;
    params.rgdispidNamedArgs = call.nullNamed ? nullptr : named;
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT argErr = 0xFFFFFFFF;
    Outcome outcome;
    outcome.hr = dispatch->Invoke(call.id, IID_NULL, LOCALE_USER_DEFAULT, call.flags, &params,
                                  call.wantResult ? &result : nullptr,
                                  call.wantException ? &exception : nullptr,
                                  call.wantArgErr ? &argErr : nullptr);
    const auto broken = [&outcome](std::string why) {
        outcome.broken = true;
        outcome.why = std::move(why);
    };
    for (std::size_t i = 0; i < call.args.size(); ++i)
        if (Describe(call.args[i]) != before[i])
            broken("argument " + std::to_string(i) + " changed");
    if (outcome.hr == DISP_E_TYPEMISMATCH && call.wantArgErr && argErr >= call.args.size())
        broken("the mismatched argument's index is out of range");
    if (SUCCEEDED(outcome.hr) && call.wantResult && V_VT(&result) != VT_EMPTY &&
        V_VT(&result) != VT_I4 && V_VT(&result) != VT_BSTR)
        broken("result of type " + std::to_string(V_VT(&result)));
    if (!IsDocumentedResult(outcome.hr)) {
        char text[64];
        std::snprintf(text, sizeof text, "result 0x%08lx", static_cast<unsigned long>(outcome.hr));
        broken(text);
    }
    VariantClear(&result);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    for (VARIANT& arg : call.args)
        VariantClear(&arg);
    return outcome;
}

// Each call draws from its own generator, so any call can be replayed alone.
Random CallRandom(unsigned seed, unsigned long long index) {
    std::seed_seq sequence{seed, unsigned(index), unsigned(index >> 32)};
    return Random(sequence);
}

unsigned g_seed = 0;
unsigned long long g_index = 0;

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    std::printf(
        "fuzz: dispatch: crash 0x%08lx in call %llu of seed %u (replay: --replay %u %llu)\n",
        static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode), g_index, g_seed, g_seed,
        g_index);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The warning box a failing call shows would wait for a click: the harness lets no dialog
// window be created, so the box returns at once.
LRESULT CALLBACK RefuseDialogs(int code, WPARAM window, LPARAM detail) {
    if (code == HCBT_CREATEWND) {
        const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(detail);
        if (create->lpcs && create->lpcs->lpszClass == reinterpret_cast<LPCWSTR>(ULONG_PTR(32770)))
            return 1;
    }
    return CallNextHookEx(nullptr, code, window, detail);
}

// Whatever the calls extracted (read-only files included) goes with the scratch folder.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

SIZE_T PagefileUsage() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
               ? counters.PagefileUsage
               : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool replay = argc == 4 && std::wcscmp(argv[1], L"--replay") == 0;
    if (!replay && (argc < 2 || argc > 3)) {
        std::fprintf(stderr, "usage: narvo_dispatch_fuzz SECONDS [SEED] | --replay SEED N\n");
        return 2;
    }
    const double seconds = replay ? 0 : _wtof(argv[1]);
    g_seed = replay      ? unsigned(_wtoi(argv[2]))
             : argc == 3 ? unsigned(_wtoi(argv[2]))
                         : unsigned(GetTickCount());
    SetUnhandledExceptionFilter(OnCrash);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);

    // The scratch folder the relative paths of the calls point into, with an archive to list.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring scratch =
        std::wstring(temp) + L"narvo-dispatch-fuzz-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(scratch.c_str(), nullptr);
    SetCurrentDirectoryW(scratch.c_str());
    // A stored archive with one entry, "a.txt" holding "hi".
    static const unsigned char archive[] = {
        'P',  'K',  3,   4,    10,  0,    0,    0,    0,    0,   0, 0,  0x21, 0, 0xAC, 0x2A,
        0x93, 0xD8, 2,   0,    0,   0,    2,    0,    0,    0,   5, 0,  0,    0, 'a',  '.',
        't',  'x',  't', 'h',  'i', 'P',  'K',  1,    2,    20,  0, 10, 0,    0, 0,    0,
        0,    0,    0,   0x21, 0,   0xAC, 0x2A, 0x93, 0xD8, 2,   0, 0,  0,    2, 0,    0,
        0,    5,    0,   0,    0,   0,    0,    0,    0,    0,   0, 0,  0,    0, 0,    0,
        0,    0,    0,   'a',  '.', 't',  'x',  't',  'P',  'K', 5, 6,  0,    0, 0,    0,
        1,    0,    1,   0,    51,  0,    0,    0,    37,   0,   0, 0,  0,    0};
    if (FILE* file = _wfopen(L"a.zip", L"wb")) {
        std::fwrite(archive, 1, sizeof archive, file);
        std::fclose(file);
    }

    CoInitialize(nullptr);
    SetWindowsHookExW(WH_CBT, RefuseDialogs, nullptr, GetCurrentThreadId());
    int status = 0;
    {
        const narvo::test::NarvoLibrary library;
        IDispatch* dispatch = nullptr;
        if (!library.loaded() ||
            FAILED(library.Create(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
            std::printf("fuzz: dispatch: the control could not be created\n");
            return 1;
        }
        if (replay) {
            g_index = _wtoi64(argv[3]);
            Random random = CallRandom(g_seed, g_index);
            const Outcome outcome = RunCall(dispatch, random, true);
            std::printf("hr=0x%08lx%s%s\n", static_cast<unsigned long>(outcome.hr),
                        outcome.broken ? " broken: " : "", outcome.why.c_str());
            status = outcome.broken ? 1 : 0;
        } else {
            std::map<HRESULT, unsigned long long> results;
            const auto start = std::chrono::steady_clock::now();
            SIZE_T warm = 0;
            unsigned long long broken = 0;
            for (g_index = 0;; ++g_index) {
                if ((g_index & 63) == 0 && std::chrono::steady_clock::now() - start >=
                                               std::chrono::duration<double>(seconds))
                    break;
                if (g_index == 1000) warm = PagefileUsage();
                Random random = CallRandom(g_seed, g_index);
                const Outcome outcome = RunCall(dispatch, random, false);
                ++results[outcome.hr];
                if (outcome.broken) {
                    if (broken++ < 10)
                        std::printf("fuzz property broken: %s (replay: --replay %u %llu)\n",
                                    outcome.why.c_str(), g_seed, g_index);
                }
            }
            for (const auto& [hr, count] : results)
                std::printf("  0x%08lx: %llu\n", static_cast<unsigned long>(hr), count);
            std::printf("  pagefile usage after 1000 calls %lu KiB, at the end %lu KiB (seed %u)\n",
                        static_cast<unsigned long>(warm / 1024),
                        static_cast<unsigned long>(PagefileUsage() / 1024), g_seed);
            std::printf("fuzz: dispatch: %llu runs, %llu crashes\n", g_index, broken);
            status = broken ? 1 : 0;
        }
        dispatch->Release();
    }
    CoUninitialize();
    SetCurrentDirectoryW(temp);
    RemoveTree(scratch);
    return status;
}
