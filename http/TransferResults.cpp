#include "http/TransferResults.h"

namespace narvo {

const char* DescribeTransferResult(int result) {
    switch (result) {
    case XFER_OK:
        return "success";
    case XFER_ERR_OPEN:
        return "the HTTP client could not be opened";
    case XFER_ERR_CONNECT:
        return "could not connect to the server";
    case XFER_ERR_REQUEST:
        return "could not open the request";
    case XFER_ERR_SEND:
        return "sending the request failed";
    case XFER_ERR_STATUS_QUERY:
        return "could not read the response status";
    case XFER_ERR_HTTP_STATUS:
        return "the server did not answer 200 OK";
    case XFER_ERR_LOCAL_FILE:
        return "the destination file or its folder could not be created";
    case XFER_ERR_FILE_WRITE:
        return "writing the destination file failed";
    case XFER_ERR_INCOMPLETE:
        return "the transfer did not complete";
    default:
        return "unknown result";
    }
}

} // namespace narvo
