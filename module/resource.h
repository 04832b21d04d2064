// Resource ids of Narvo.dll.
#pragma once

#define IDS_PROJNAME 100
#define IDR_NARVO 101
#define IDS_HEADER_NAME 1000
#define IDS_HEADER_TYPE 1001
#define IDS_HEADER_SIZE 1002
