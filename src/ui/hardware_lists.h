// The main dialog's hardware lists live with the configuration, which the
// units table shares with the window.
#pragma once

#include "config/hardware_lists.h"
