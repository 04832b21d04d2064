// `host`: the container's services to the page, one row per member (docs/test-container.md).
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "com/Dispatch.h"
#include "host/Container.h"
#include "host/HostSupport.h"
#include "host/ListProbe.h"
#include "host/ModalWatch.h"
#include "host/OtherProcess.h"
#include "host/PageObjects.h"
#include "host/ProgressProbe.h"

namespace host {
namespace {

using narvo::DispatchArgs;
using narvo::SetBool;
using narvo::SetNumber;
using narvo::SetText;
using Args = DispatchArgs;
using Member = narvo::DispatchMember<CContainer>;
constexpr auto kMethod = narvo::MemberKind::Method;

DWORD Milliseconds(LONG ms) {
    return ms > 0 ? DWORD(ms) : 0;
}

std::wstring Wide(BSTR text) {
    return std::wstring(text ? text : L"", SysStringLen(text));
}

// Names match whatever their letter case; every member is a method (a read of argCount arrives
// as one).
constexpr Member kMembers[] = {
    {{L"echo", 1, kMethod, "v"},
     [](CContainer& c, const Args& a, VARIANT*) {
         VARIANT given = a.Value(0), text;
         VariantInit(&text);
         if (V_VT(&given) == VT_NULL)
             c.Echo(L"null");
         else if (FAILED(VariantChangeType(&text, &given, VARIANT_ALPHABOOL, VT_BSTR)))
             c.Echo(L"[object]");
         else
             c.Echo(Wide(V_BSTR(&text)));
         VariantClear(&text);
         return S_OK;
     }},
    {{L"quit", 2, kMethod, "n"},
     [](CContainer& c, const Args& a, VARIANT*) -> HRESULT { c.Quit(a.Number(0)); }},
    {{L"sleep", 3, kMethod, "n"},
     [](CContainer&, const Args& a, VARIANT*) {
         PumpMessages(Milliseconds(a.Number(0)));
         return S_OK;
     }},
    {{L"resize", 4, kMethod, "nn"},
     [](CContainer& c, const Args& a, VARIANT*) {
         c.Resize(a.Number(0), a.Number(1));
         return S_OK;
     }},
    {{L"arg", 5, kMethod, "n"},
     [](CContainer& c, const Args& a, VARIANT* r) {
         const LONG i = a.Number(0);
         if (i >= 0 && size_t(i) < c.args().size()) SetText(r, c.args()[i]);
         return S_OK;
     }},
    {{L"argCount", 6, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         SetNumber(r, LONG(c.args().size()));
         return S_OK;
     }},
    {{L"columnHeader", 7, kMethod, "n"},
     [](CContainer& c, const Args& a, VARIANT* r) {
         std::wstring text;
         const bool found = c.ColumnHeader(a.Number(0), text);
         Answer(r, found, text);
         return S_OK;
     }},
    {{L"deactivate", 8, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         SetNumber(r, c.Deactivate());
         return S_OK;
     }},
    {{L"activate", 9, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         SetNumber(r, c.Activate());
         return S_OK;
     }},
    {{L"release", 10, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT*) {
         c.ReleaseControl();
         return S_OK;
     }},
    {{L"canUnload", 11, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         SetBool(r, c.CanUnload());
         return S_OK;
     }},
    {{L"screenshot", 12, kMethod, "t"},
     [](CContainer& c, const Args& a, VARIANT* r) {
         SetBool(r, c.Screenshot(Wide(a.Text(0))));
         return S_OK;
     }},
    {{L"focus", 13, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         std::wstring focused;
         const bool found = c.FocusControl(focused);
         Answer(r, found, focused);
         return S_OK;
     }},
    {{L"readText", 14, kMethod, "t"},
     [](CContainer& c, const Args& a, VARIANT* r) {
         std::wstring text;
         const bool found = c.ReadText(Wide(a.Text(0)), text);
         Answer(r, found, text);
         return S_OK;
     }},
    {{L"listRowCount", 15, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         Answer(r, c.ListWindow() != nullptr, long(ListRowCount(c.ListWindow())));
         return S_OK;
     }},
    {{L"listCell", 16, kMethod, "nn"},
     [](CContainer& c, const Args& a, VARIANT* r) {
         std::wstring text;
         const bool found = ListCell(c.ListWindow(), a.Number(0), a.Number(1), text);
         Answer(r, found, text);
         return S_OK;
     }},
    {{L"listImage", 17, kMethod, "n"},
     [](CContainer& c, const Args& a, VARIANT* r) {
         int image = 0;
         const bool found = ListImage(c.ListWindow(), a.Number(0), image);
         Answer(r, found, long(image));
         return S_OK;
     }},
    {{L"listSelection", 18, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         Answer(r, c.ListWindow() != nullptr, long(ListSelection(c.ListWindow())));
         return S_OK;
     }},
    {{L"imageList", 19, kMethod, "t"},
     [](CContainer& c, const Args& a, VARIANT* r) {
         long value = 0;
         const bool found = ImageListInfo(c.ListWindow(), Wide(a.Text(0)), value);
         Answer(r, found, value);
         return S_OK;
     }},
    {{L"doubleClickRow", 20, kMethod, "n"},
     [](CContainer& c, const Args& a, VARIANT* r) {
         SetBool(r, DoubleClickRow(c.ListWindow(), a.Number(0)));
         return S_OK;
     }},
    {{L"messageBoxCount", 21, kMethod, ""},
     [](CContainer&, const Args&, VARIANT* r) {
         SetNumber(r, MessageBoxCount());
         return S_OK;
     }},
    {{L"lastMessageBox", 22, kMethod, "t"},
     [](CContainer&, const Args& a, VARIANT* r) {
         std::wstring value;
         const bool found = LastMessageBox(Wide(a.Text(0)), value);
         Answer(r, found, value);
         return S_OK;
     }},
    {{L"answerFileDialog", 23, kMethod, "t"},
     [](CContainer&, const Args& a, VARIANT*) {
         AnswerFileDialog(Wide(a.Text(0)));
         return S_OK;
     }},
    {{L"fileDialogCount", 24, kMethod, ""},
     [](CContainer&, const Args&, VARIANT* r) {
         SetNumber(r, FileDialogCount());
         return S_OK;
     }},
    {{L"lastFileDialog", 25, kMethod, "t"},
     [](CContainer&, const Args& a, VARIANT* r) {
         std::wstring value;
         const bool found = LastFileDialog(Wide(a.Text(0)), value);
         Answer(r, found, value);
         return S_OK;
     }},
    {{L"findWindow", 26, kMethod, "tn"},
     [](CContainer&, const Args& a, VARIANT* r) {
         const WindowSearch found =
             FindWindowOfOtherProcess(Wide(a.Text(0)), Milliseconds(a.Number(1)));
         Answer(r, found.pid != 0, std::to_wstring(found.pid) + L" " + found.title);
         return S_OK;
     }},
    {{L"endProcess", 27, kMethod, "n"},
     [](CContainer&, const Args& a, VARIANT* r) {
         SetBool(r, EndProcess(DWORD(a.Number(0))));
         return S_OK;
     }},
    {{L"after", 28, kMethod, "no"},
     [](CContainer& c, const Args& a, VARIANT*) {
         if (!a.Object(1)) return DISP_E_TYPEMISMATCH;
         c.After(a.Number(0), a.Object(1));
         return S_OK;
     }},
    {{L"progressBox", 29, kMethod, "t"},
     [](CContainer&, const Args& a, VARIANT* r) {
         ProgressBoxField(Wide(a.Text(0)), r);
         return S_OK;
     }},
    {{L"workArea", 30, kMethod, ""},
     [](CContainer&, const Args&, VARIANT* r) {
         RECT work{};
         SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
         SetText(r, RectText(work));
         return S_OK;
     }},
    {{L"screenshotScreen", 31, kMethod, "t"},
     [](CContainer& c, const Args& a, VARIANT* r) {
         SetBool(r, c.ScreenshotScreen(Wide(a.Text(0))));
         return S_OK;
     }},
    {{L"postQuit", 32, kMethod, "n"},
     [](CContainer&, const Args& a, VARIANT*) {
         PostQuitMessage(a.Number(0));
         return S_OK;
     }},
    {{L"takeQuit", 33, kMethod, ""},
     [](CContainer&, const Args&, VARIANT* r) {
         MSG msg;
         const bool found = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
         Answer(r, found, found ? long(msg.wParam) : 0);
         return S_OK;
     }},
    {{L"safetyResult", 34, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         SetNumber(r, LONG(c.SafetyResult()));
         return S_OK;
     }},
    {{L"viewerByForce", 35, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         if (r) {
             V_VT(r) = VT_DISPATCH;
             V_DISPATCH(r) = c.ViewerByForce();
             V_DISPATCH(r)->AddRef();
         }
         return S_OK;
     }},
    {{L"recreate", 36, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         SetBool(r, c.Recreate());
         return S_OK;
     }},
    {{L"resourceCounts", 37, kMethod, ""},
     [](CContainer& c, const Args&, VARIANT* r) {
         IDispatch* counts = c.ResourceCounts();
         V_VT(r) = VT_DISPATCH;
         V_DISPATCH(r) = counts;
         return S_OK;
     }},
};

} // namespace

STDMETHODIMP CHostObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return narvo::DispatchIDsOfNames<CContainer>(kMembers, names, count, ids);
}

STDMETHODIMP CHostObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* exception, UINT* argErr) {
    return narvo::DispatchInvoke<CContainer>(kMembers, container_, id, flags, params, result,
                                             exception, argErr);
}

} // namespace host
