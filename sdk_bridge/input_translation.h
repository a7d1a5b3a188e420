// Turns a check input into the record the checker SDK checks.
#pragma once

#include "kesp/fops.h"
#include "kesp/input.h"
#include "kesp/status.h"
#include "foundation/logger.h"
#include "fpcsdk/fpcsdk.h"

namespace kesp::plugins::fpchecker {

// Throws kesp::ErrorCodeException (status Error) naming the first fault: an
// input of a foreign class, a missing detection name, custom data of the
// wrong kind, or a missing buffer, buffer size or path.
void validateCheckInput(InputV1& input);

// Fills record (created empty) from a validated input; file sizes come
// through factory. Returns Success, or the status of a file-size failure
// after logging it.
Status translateCheckInput(InputV1& input, fpcsdk::DetectionInput& record,
                           FopsFactoryV1* factory, const plx::LogChannel& log);

}  // namespace kesp::plugins::fpchecker
