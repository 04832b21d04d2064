// SelectFile: the platform's open-file dialog, modal to the control's list.
#include "control/Viewer.h"

#include <commdlg.h>

#include <new>

#include "com/ScriptString.h"
#include "fileutil/FileSelection.h"

namespace narvo {

STDMETHODIMP CViewer::SelectFile(BSTR title, BSTR filter, BSTR, BSTR* fileName) {
    if (!fileName) return E_POINTER;
    *fileName = nullptr;
    try {
        const std::string caption = NarrowFromScript(title);
        const std::string filterList = BuildOpenFileFilter(NarrowFromScript(filter));
        char chosen[MAX_PATH] = "";
        OPENFILENAMEA request{};
        // The first layout of the request, which every version of the dialog understands.
        request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
        request.hwndOwner = listView_;
        request.lpstrFilter = filterList.c_str();
        request.nFilterIndex = 0;
        request.lpstrFile = chosen;
        request.nMaxFile = MAX_PATH;
        // No title: the dialog's own caption.
        request.lpstrTitle = caption.empty() ? nullptr : caption.c_str();
        request.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        // Cancel, and a dialog that fails (a path too long for the buffer), give "".
        *fileName = ScriptFromNarrow(GetOpenFileNameA(&request) ? chosen : "");
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return *fileName ? S_OK : E_OUTOFMEMORY;
}

} // namespace narvo
