#include "port/Errors.h"

#include <cerrno>

namespace port {

ErrorCode ErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case ECONNREFUSED:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EBUSY:
        return ERROR_BUSY;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case EFBIG:
        return ERROR_HANDLE_DISK_FULL;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case EPIPE:
    case ECONNRESET:
        return ERROR_BROKEN_PIPE;
    case EIO:
        return ERROR_IO_DEVICE;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
        return ERROR_NOT_READY;
    case ENOTSUP:
        return ERROR_NOT_SUPPORTED;
    case ECANCELED:
        return ERROR_OPERATION_ABORTED;
    case ESPIPE:
        return ERROR_SEEK;
    default:
        return ERROR_GEN_FAILURE;
    }
}

const char* DescribeError(ErrorCode code) {
    switch (code) {
    case ERROR_SUCCESS:
        return "no error";
    case ERROR_INVALID_FUNCTION:
        return "the device does not support this request";
    case ERROR_FILE_NOT_FOUND:
        return "file not found";
    case ERROR_PATH_NOT_FOUND:
        return "path not found (is spindle-driver running?)";
    case ERROR_TOO_MANY_OPEN_FILES:
        return "too many open files";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_INVALID_HANDLE:
        return "invalid handle";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "not enough memory";
    case ERROR_INVALID_DATA:
        return "invalid data";
    case ERROR_INVALID_DRIVE:
        return "no free virtual device";
    case ERROR_WRITE_PROTECT:
        return "the medium is write-protected";
    case ERROR_NOT_READY:
        return "the device is not ready";
    case ERROR_CRC:
        return "data error (cyclic redundancy check)";
    case ERROR_BAD_LENGTH:
        return "a record of the wrong length";
    case ERROR_SEEK:
        return "seek error";
    case ERROR_WRITE_FAULT:
        return "write fault";
    case ERROR_READ_FAULT:
        return "read fault";
    case ERROR_GEN_FAILURE:
        return "the device failed";
    case ERROR_SHARING_VIOLATION:
        return "the file is in use";
    case ERROR_HANDLE_EOF:
        return "reached the end of the file";
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
        return "the disk is full";
    case ERROR_NOT_SUPPORTED:
        return "not supported";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return "already exists";
    case ERROR_INVALID_PARAMETER:
        return "invalid parameter";
    case ERROR_BROKEN_PIPE:
        return "the connection to the driver was lost";
    case ERROR_INSUFFICIENT_BUFFER:
        return "the buffer is too small";
    case ERROR_INVALID_NAME:
        return "invalid name";
    case ERROR_DIR_NOT_EMPTY:
        return "the folder is not empty";
    case ERROR_BUSY:
        return "the drive letter is in use";
    case ERROR_FILENAME_EXCED_RANGE:
        return "the path is too long";
    case ERROR_MORE_DATA:
        return "more data is available";
    case ERROR_OPERATION_ABORTED:
        return "the operation was stopped";
    case ERROR_UNRECOGNIZED_VOLUME:
        return "not an ISO 9660 image";
    case ERROR_IO_DEVICE:
        return "input/output error";
    case ERROR_MEDIA_CHANGED:
        return "the medium changed (image replaced after mounting?)";
    case ERROR_NOT_FOUND:
        return "not found";
    default:
        return "unknown error";
    }
}

} // namespace port
