// Resource ids of Narvo.dll: the module's own, and the control's.
#pragma once

#include "control/ControlResources.h"

#define IDS_PROJNAME 100
#define IDR_NARVO 101  // registration script: the module's AppID
#define IDR_VIEWER 102 // registration script: the class, one per registry view
#define IDR_PROGIDS 104 // registration script: the ProgIDs, one key for both views
