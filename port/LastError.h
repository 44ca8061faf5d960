// The calling thread's last error number, as the platform calls below set it
// on failure. Each thread has its own.
#pragma once

#include "port/Errors.h"

namespace port {

ErrorCode GetLastError();
void SetLastError(ErrorCode code);

// Sets the last error from errno and returns false, for one-line failure paths.
bool FailWithErrno();
// Sets the last error and returns false.
bool FailWith(ErrorCode code);

} // namespace port
