#pragma once
// Just enough of the Windows API for the registration script code to build natively under the
// fuzzer: the types and codes it names, and the registry functions over an in-memory tree
// (tests/fuzz/shim/Registry.cpp), so that what a script does to the registry can be checked.
#include <cstdint>
#include <cwchar>

using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using HRESULT = std::int32_t;
using REGSAM = DWORD;
struct RegistryHandle;
using HKEY = RegistryHandle*;
using PHKEY = HKEY*;

#define S_OK HRESULT(0)
#define E_OUTOFMEMORY HRESULT(0x8007000E)
#define SUCCEEDED(hr) (HRESULT(hr) >= 0)
#define FAILED(hr) (HRESULT(hr) < 0)
#define HRESULT_FROM_WIN32(x)                                                                      \
    (HRESULT(x) <= 0 ? HRESULT(x) : HRESULT((DWORD(x) & 0x0000FFFF) | (7 << 16) | 0x80000000))

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_DATA 13L
#define REG_SZ 1
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006

extern HKEY HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE;

int _wcsicmp(const wchar_t* a, const wchar_t* b);
LONG RegCreateKeyExW(HKEY parent, const wchar_t* subKey, DWORD reserved, wchar_t* className,
                     DWORD options, REGSAM access, void* security, PHKEY result,
                     DWORD* disposition);
LONG RegOpenKeyExW(HKEY parent, const wchar_t* subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegSetValueExW(HKEY key, const wchar_t* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegDeleteValueW(HKEY key, const wchar_t* name);
LONG RegDeleteTreeW(HKEY key, const wchar_t* subKey);
LONG RegCloseKey(HKEY key);
