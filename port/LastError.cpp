#include "port/LastError.h"

#include <cerrno>

namespace port {

namespace {
thread_local ErrorCode t_lastError = ERROR_SUCCESS;
}

ErrorCode GetLastError() {
    return t_lastError;
}

void SetLastError(ErrorCode code) {
    t_lastError = code;
}

bool FailWithErrno() {
    SetLastError(ErrorFromErrno(errno));
    return false;
}

bool FailWith(ErrorCode code) {
    SetLastError(code);
    return false;
}

} // namespace port
