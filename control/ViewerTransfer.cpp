// The control's transfers: script arguments in, the core's transfer under the progress box, the
// result code out. Failures are result codes; the call itself always succeeds.
#include "control/Viewer.h"

#include "com/ComPtr.h"
#include "com/ScriptString.h"
#include "http/HttpTransfer.h"

namespace narvo {
namespace {

// An empty header text means no header lines at all.
const char* HeaderOrNull(const std::string& header) {
    return header.empty() ? nullptr : header.c_str();
}

} // namespace

ComPtr<IViewer> CViewer::KeepAlive() {
    // Progress reports run the page's messages, and the page may let the control go meanwhile:
    // the transfer holds it until it returns.
    return ComPtr<IViewer>(static_cast<IViewer*>(this));
}

void CViewer::ShowProgressBox(BSTR caption) {
    // A transfer started from within another's progress report finds the box open and uses it
    // as it is, message included.
    if (!progressBox_.HasWindow()) progressBox_.Show(NarrowFromScript(caption).c_str());
}

STDMETHODIMP CViewer::HttpDownload(BSTR caption, BSTR server, LONG port, BSTR url, BSTR header,
                                   BSTR destFileName, LONG* errCode) {
    if (!errCode) return E_POINTER;
    const ComPtr<IViewer> keepAlive = KeepAlive();
    const std::string headerText = NarrowFromScript(header);
    const std::string destination = NarrowFromScript(destFileName);
    const std::string serverText = NarrowFromScript(server), target = NarrowFromScript(url);
    // No folder, no box and no request.
    int code = CheckTransferInput(serverText.c_str(), target.c_str(), headerText.c_str());
    if (code == 0) code = CreateDownloadFolder(destination.c_str());
    if (code != 0) {
        *errCode = code;
        return S_OK;
    }
    ShowProgressBox(caption);
    *errCode = HttpGetToFile(serverText.c_str(), std::uint16_t(port), target.c_str(),
                             HeaderOrNull(headerText), destination.c_str(), TransferProgress,
                             std::uint32_t(internetOption_), &progressBox_);
    progressBox_.DestroyBox();
    return S_OK;
}

STDMETHODIMP CViewer::HttpUploadSimple(BSTR caption, BSTR server, LONG port, BSTR url, BSTR header,
                                       BSTR fileName, LONG* errCode) {
    if (!errCode) return E_POINTER;
    const ComPtr<IViewer> keepAlive = KeepAlive();
    const std::string headerText = NarrowFromScript(header), file = NarrowFromScript(fileName);
    const std::string serverText = NarrowFromScript(server), target = NarrowFromScript(url);
    // Refused input shows no box.
    if (const int code = CheckTransferInput(serverText.c_str(), target.c_str(), headerText.c_str(),
                                            file.c_str())) {
        *errCode = code;
        return S_OK;
    }
    ShowProgressBox(caption);
    *errCode = HttpPostFile(serverText.c_str(), std::uint16_t(port), target.c_str(),
                            HeaderOrNull(headerText), file.c_str(), TransferProgress,
                            std::uint32_t(internetOption_), &progressBox_);
    progressBox_.DestroyBox();
    return S_OK;
}

} // namespace narvo
