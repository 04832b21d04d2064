#pragma once
// The transfers' result codes (the numbers page scripts see) and one description per code.
namespace narvo {

constexpr int XFER_OK = 0;
constexpr int XFER_ERR_OPEN = 20;         // the HTTP client could not be opened
constexpr int XFER_ERR_CONNECT = 21;      // no connection handle
constexpr int XFER_ERR_REQUEST = 22;      // no request handle
constexpr int XFER_ERR_SEND = 23;         // sending (or ending) the request failed
constexpr int XFER_ERR_STATUS_QUERY = 24; // no status could be read
constexpr int XFER_ERR_HTTP_STATUS = 25;  // the status is not 200
constexpr int XFER_ERR_LOCAL_FILE = 40;   // the destination or its folder could not be made
constexpr int XFER_ERR_FILE_WRITE = 42;   // the destination took fewer bytes than were read
constexpr int XFER_ERR_INCOMPLETE = 99;   // the body did not get through whole

// A short description of a transfer result code ("unknown result" for any other number).
const char* DescribeTransferResult(int result);

} // namespace narvo
