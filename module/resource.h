// Resource ids of Narvo.dll: the module's own, and the control's.
#pragma once

#include "control/ControlResources.h"

#define IDS_PROJNAME 100
#define IDR_NARVO 101
