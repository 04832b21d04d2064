// narvo-host: a test container for Narvo.Viewer. It hosts the control in place in a top-level
// window through the platform's ATL host (AtlAxWin) and runs a page script in the JScript engine
// with two global objects: `viewer`, the control as a page sees it (IDispatch only), and `host`,
// the container's own services. See docs/test-container.md.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "host/Container.h"
#include "host/HostSupport.h"
#include "host/ScriptFile.h"

using namespace host;

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    // --url URL before the script: the container plays a browser's page at URL.
    int first = 1;
    std::wstring pageUrl;
    if (argv && argc >= 3 && std::wstring(argv[1]) == L"--url") {
        pageUrl = argv[2];
        first = 3;
    }
    if (!argv || argc < first + 1 || (first == 3 && pageUrl.empty())) {
        Fail("usage: narvo-host [--url URL] SCRIPT.js [ARG...]");
        return kExitUsage;
    }
    const std::wstring scriptPath = argv[first];
    std::vector<std::wstring> args(argv + first + 1, argv + argc);
    LocalFree(argv);

    std::wstring code;
    if (!ReadScript(scriptPath, code)) {
        Fail("cannot read " + Utf8(scriptPath));
        return kExitUsage;
    }
    if (FAILED(OleInitialize(nullptr))) {
        Fail("cannot initialise OLE");
        return kExitNoControl;
    }
    InitCommonControls();
    int status = 0;
    {
        CContainer container(scriptPath, std::move(args));
        if (!pageUrl.empty()) container.SetPageUrl(pageUrl);
        status = container.Run(code);
    }
    OleUninitialize();
    return status;
}
