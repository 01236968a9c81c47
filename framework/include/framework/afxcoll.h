// The framework's collections: CStringArray.
#pragma once

#include "framework/CStringArray.h"
#include "framework/afx.h"
