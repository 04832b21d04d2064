// Resource ids of what the control shows: its column headers and its progress box. The module's
// resource script carries them.
#pragma once

#define IDS_HEADER_NAME 1000
#define IDS_HEADER_TYPE 1001
#define IDS_HEADER_SIZE 1002
// The progress box: its dialog template, picture, and controls.
#define IDD_PROGRESS 103
#define IDC_PROGRESS_BAR 202
#define IDB_PROGRESS_PICTURE 203
#define IDC_PROGRESS_PICTURE 204
#define IDC_PROGRESS_MESSAGE 205
#define IDC_PROGRESS_PERCENT 206
