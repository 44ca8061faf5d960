// The errors of an image build, as one channel: an error number of
// port/Errors.h and the path it concerns (a source file, a source folder or
// the image). The engine, its build thread and spindle-cli build-iso all
// report through it; DescribeBuildError is the one place their text is made.
// The files page shows only ID_BUILDIMAGEERROR, never this text.
#pragma once

#include "port/Errors.h"

#include <string>

namespace engine {

// Numbers of the platform's set that only image builds give.
inline constexpr port::ErrorCode ERROR_BUILD_NOT_REGULAR = 222; // a source is no plain file
inline constexpr port::ErrorCode ERROR_BUILD_TOO_LARGE = 223;   // 4 GiB and more below level 3
inline constexpr port::ErrorCode ERROR_BUILD_IS_FOLDER = 267;   // the image path is a folder
inline constexpr port::ErrorCode ERROR_BUILD_CHANGED = 1006;    // a source changed meanwhile

struct BuildError {
    port::ErrorCode code = port::ERROR_SUCCESS; // 0: no error
    std::string path;                           // UTF-8; may be empty

    explicit operator bool() const { return code != port::ERROR_SUCCESS; }
};

// A stop by the user (ERROR_OPERATION_ABORTED) reads StoppedByUserText().
std::string DescribeBuildError(const BuildError& error);

} // namespace engine
