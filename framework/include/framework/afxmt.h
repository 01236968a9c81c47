// The framework's synchronisation classes: CSyncObject, CEvent, CSingleLock.
#pragma once

#include "framework/afx.h"
#include "framework/sync.h"
