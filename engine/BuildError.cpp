#include "engine/BuildError.h"

#include "engine/Job.h"

namespace engine {

std::string DescribeBuildError(const BuildError& e) {
    const std::string& p = e.path;
    switch (e.code) {
    case port::ERROR_SUCCESS:
        return {};
    case port::ERROR_OPERATION_ABORTED:
        return std::string(StoppedByUserText());
    case port::ERROR_DISK_FULL:
    case port::ERROR_HANDLE_DISK_FULL:
        return "The disk is full: cannot write " + p;
    case port::ERROR_FILE_NOT_FOUND:
        return "Cannot read " + p + ": no such file or folder";
    case port::ERROR_PATH_NOT_FOUND:
        return "Cannot use " + p + ": its folder does not exist";
    case port::ERROR_ACCESS_DENIED:
        return "Cannot use " + p + ": permission denied";
    case ERROR_BUILD_NOT_REGULAR:
        return "Cannot read " + p + ": not a regular file";
    case ERROR_BUILD_TOO_LARGE:
        return p + " is 4 GiB or larger, which needs ISO level 3";
    case ERROR_BUILD_IS_FOLDER:
        return "Cannot write " + p + ": it is a folder";
    case ERROR_BUILD_CHANGED:
        return p + " changed while the image was built";
    case port::ERROR_ALREADY_EXISTS:
        return "Cannot add " + p + ": another source has that name";
    case port::ERROR_INVALID_NAME:
        return "Cannot add " + p + ": its name is not UTF-8 text";
    case port::ERROR_INVALID_PARAMETER:
        return "No image path was given";
    case port::ERROR_FILENAME_EXCED_RANGE:
        return "The path is too long: " + p;
    case port::ERROR_BUSY:
        return "An image build is already running";
    case port::ERROR_NOT_READY:
        return "There is no data project to build";
    case port::ERROR_GEN_FAILURE:
        return p.empty() ? "The image generator failed" : "The image generator failed on " + p;
    default:
        break;
    }
    std::string text = port::DescribeError(e.code);
    return (p.empty() ? text : p + ": " + text) + " (error " + std::to_string(e.code) + ")";
}

} // namespace engine
