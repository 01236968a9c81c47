// The framework's synchronisation classes: CSyncObject, CEvent, CSingleLock.
#pragma once

#include "afx.h"
#include "sync.h"
