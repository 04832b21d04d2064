// host.resourceCounts(): the process's handles, GDI and USER objects and memory, read where each
// platform gives a real figure, and handed to the page as an object of named fields.
#include "host/ResourceCounts.h"

#include <psapi.h>
#include <winternl.h>

#include <cwchar>
#include <memory>
#include <utility>
#include <vector>

#include "host/PageObjects.h"

namespace host {
namespace {

constexpr NTSTATUS kInfoLengthMismatch = NTSTATUS(0xC0000004L);

// Handles of this process in the system's handle table (class 16), and how many of them are
// registry keys. Wine's GetProcessHandleCount answers 0, this table it fills. The table names the
// owner by its id's low 16 bits on Windows (the upper half is another field there), by the whole
// id under Wine; both match the low half. Keys are told by the type of a key opened for the
// reading (not counted).
bool ReadSystemHandleTable(long& count, long& keys) {
    using Query = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return false;
    HKEY probe = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &probe) != ERROR_SUCCESS)
        probe = nullptr;
    bool read = false;
    // Grown until the table fits; the table changes between calls, so with room to spare.
    ULONG size = 1 << 16;
    for (int attempt = 0; attempt < 16 && !read; ++attempt) {
        std::vector<unsigned char> buffer(size);
        ULONG needed = 0;
        const NTSTATUS status = query(SYSTEM_INFORMATION_CLASS(16), buffer.data(), size, &needed);
        if (status == kInfoLengthMismatch) {
            size = (needed > size ? needed : size) * 2;
            continue;
        }
        if (status < 0) break;
        const auto* table = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
        const size_t room =
            (size - offsetof(SYSTEM_HANDLE_INFORMATION, Handle)) / sizeof(SYSTEM_HANDLE_ENTRY);
        const size_t entries = table->Count < room ? table->Count : room;
        const ULONG self = GetCurrentProcessId() & 0xFFFF;
        const USHORT probeValue = USHORT(reinterpret_cast<ULONG_PTR>(probe));
        int keyType = -1;
        for (size_t i = 0; i < entries; ++i)
            if ((table->Handle[i].OwnerPid & 0xFFFF) == self && probe &&
                table->Handle[i].HandleValue == probeValue)
                keyType = table->Handle[i].ObjectType;
        count = 0;
        keys = 0;
        for (size_t i = 0; i < entries; ++i)
            if ((table->Handle[i].OwnerPid & 0xFFFF) == self) {
                ++count;
                if (table->Handle[i].ObjectType == keyType) ++keys;
            }
        if (probe) {
            --count;
            --keys;
        }
        keys = keyType < 0 ? -1 : keys;
        read = true;
    }
    if (probe) RegCloseKey(probe);
    return read;
}

// The page's view of the counts: a field per name, read as a property (or called as a method);
// the object's value is the one-line summary.
class CRecord final : public CDispatchObject {
public:
    void Add(const wchar_t* name, const VARIANT& value) { fields_.emplace_back(name, value); }
    void Add(const wchar_t* name, double value) {
        VARIANT v;
        V_VT(&v) = VT_R8;
        V_R8(&v) = value;
        Add(name, v);
    }
    void Add(const wchar_t* name, const std::wstring& text) {
        VARIANT v;
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(text.data(), UINT(text.size()));
        Add(name, v);
    }
    void AddNull(const wchar_t* name) {
        VARIANT v;
        V_VT(&v) = VT_NULL;
        Add(name, v);
    }

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count && (!names || !ids)) return E_INVALIDARG;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (size_t f = 0; f < fields_.size(); ++f)
                if (names[i] && _wcsicmp(names[i], fields_[f].first.c_str()) == 0)
                    ids[i] = DISPID(f + 1);
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT*) override {
        if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
        if (params && params->cArgs) return DISP_E_BADPARAMCOUNT;
        if (id == DISPID_VALUE) id = DISPID(Find(L"text") + 1);
        if (id < 1 || size_t(id) > fields_.size()) return DISP_E_MEMBERNOTFOUND;
        return result ? VariantCopy(result, &fields_[id - 1].second) : S_OK;
    }

private:
    ~CRecord() override {
        for (auto& field : fields_)
            VariantClear(&field.second);
    }
    size_t Find(const wchar_t* name) const {
        for (size_t f = 0; f < fields_.size(); ++f)
            if (fields_[f].first == name) return f;
        return fields_.size();
    }
    std::vector<std::pair<std::wstring, VARIANT>> fields_;
};

std::wstring Kib(double bytes) {
    return std::to_wstring(static_cast<long long>(bytes / 1024)) + L" KiB";
}

std::wstring Count(const std::optional<long>& count) {
    return count ? std::to_wstring(*count) : L"unavailable";
}

} // namespace

ResourceCounts ReadResourceCounts(HWND frame) {
    ResourceCounts counts;
    long tableHandles = 0, keys = -1;
    const bool table = ReadSystemHandleTable(tableHandles, keys);
    if (table && keys >= 0) counts.registryKeys = keys;
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0) {
        counts.handles = long(handles);
        counts.handleSource = L"GetProcessHandleCount";
    } else if (table) {
        counts.handles = tableHandles;
        counts.handleSource = L"SystemHandleInformation";
    }
    // While a brush and a device context of ours stand, and the frame window, a count of 0 only
    // says the call does not count (Wine's GetGuiResources is a stub).
    HDC dc = GetDC(frame);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    const DWORD gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const DWORD user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (brush) DeleteObject(brush);
    if (dc) ReleaseDC(frame, dc);
    if (gdi > 0 && brush) counts.gdi = long(gdi) - 1; // the brush made here is gone again
    if (user > 0 && IsWindow(frame)) counts.user = long(user);

    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        counts.workingSet = double(memory.WorkingSetSize);
        counts.pagefileUsage = double(memory.PagefileUsage);
        if (memory.PrivateUsage > 0) counts.privateUsage = double(memory.PrivateUsage);
    }
    return counts;
}

IDispatch* ResourceCountsObject(const ResourceCounts& c) {
    auto* record = new CRecord;
    record->Add(L"handles", double(c.handles));
    record->Add(L"handleSource", c.handleSource);
    c.registryKeys ? record->Add(L"registryKeys", double(*c.registryKeys))
                   : record->AddNull(L"registryKeys");
    c.gdi ? record->Add(L"gdi", double(*c.gdi)) : record->AddNull(L"gdi");
    c.user ? record->Add(L"user", double(*c.user)) : record->AddNull(L"user");
    record->Add(L"workingSet", c.workingSet);
    record->Add(L"pagefileUsage", c.pagefileUsage);
    c.privateUsage ? record->Add(L"privateUsage", *c.privateUsage)
                   : record->AddNull(L"privateUsage");
    // The figure a memory check compares: private bytes where the platform counts them, else
    // the pagefile usage Wine fills (it follows the committed private memory there as well).
    const bool privateBytes = c.privateUsage.has_value();
    record->Add(L"memory", privateBytes ? *c.privateUsage : c.pagefileUsage);
    record->Add(L"memorySource", std::wstring(privateBytes ? L"PrivateUsage" : L"PagefileUsage"));
    record->Add(L"text", L"handles " + std::to_wstring(c.handles) + L" (" + c.handleSource +
                             L"), registry keys " + Count(c.registryKeys) + L", gdi " +
                             Count(c.gdi) + L", user " + Count(c.user) + L", working set " +
                             Kib(c.workingSet) + L", pagefile " + Kib(c.pagefileUsage) +
                             L", private " +
                             (privateBytes ? Kib(*c.privateUsage) : L"unavailable"));
    return record;
}

} // namespace host
