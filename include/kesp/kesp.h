// Everything a host needs to load and drive the FP checker plug-in.
#pragma once

#include "kesp/checker.h"
#include "kesp/fops.h"
#include "kesp/generic_data.h"
#include "kesp/host.h"
#include "kesp/input.h"
#include "kesp/plugin.h"
#include "kesp/releasable.h"
#include "kesp/status.h"
