#include "driver/Session.h"

#include "port/DriverWire.h"
#include "port/FileDiskRecords.h"

#include <cerrno>
#include <chrono>
#include <sys/stat.h>

namespace driver {

using namespace port;

namespace {

// How long a dismount waits for files closed just before it: the kernel
// reports a close a moment after the program's close() returned.
constexpr std::chrono::milliseconds kCloseGrace(500);

} // namespace

Session::~Session() {
    if (m_pendingClose)
        m_table.TryRemove(m_pendingClose); // else the close is cancelled
}

std::vector<std::uint8_t> Session::OnHello(const std::uint8_t* msg, std::size_t len, bool& keep) {
    keep = false;
    auto hello = wire::DecodeHello(msg, len);
    if (!hello)
        return wire::Encode(wire::HelloReply{ERROR_INVALID_PARAMETER});
    char16_t l = hello->letter;
    if (l >= u'a' && l <= u'z')
        l = static_cast<char16_t>(l - u'a' + u'A');
    auto dev = ParseDeviceName(hello->device);
    if (!dev || l < u'A' || l > u'Z')
        return wire::Encode(wire::HelloReply{ERROR_FILE_NOT_FOUND});
    m_device = *dev;
    m_letter = static_cast<char>(l);
    keep = true;
    return wire::Encode(wire::HelloReply{ERROR_SUCCESS});
}

std::vector<std::uint8_t> Session::OnRequest(const std::uint8_t* msg, std::size_t len) {
    auto req = wire::DecodeRequest(msg, len);
    if (!req)
        return wire::Encode(wire::Reply{ERROR_INVALID_PARAMETER, {}});
    wire::Reply reply;
    reply.error = Control(req->code, req->input, req->outCapacity, reply.output);
    if (reply.error != ERROR_SUCCESS || reply.output.size() > req->outCapacity)
        reply.output.clear();
    return wire::Encode(reply);
}

ErrorCode Session::Control(std::uint32_t code, const std::vector<std::uint8_t>& in,
                           std::uint32_t outCapacity, std::vector<std::uint8_t>& out) {
    out.clear();
    AttachRequest req;
    switch (code) {
    case vdrive::IOCTL_FILEDISK_OPEN_FILE_W:
        if (ErrorCode e = ParseAttachRecordW(in, req))
            return e;
        return Attach(req);
    case vdrive::IOCTL_FILEDISK_OPEN_FILE:
        if (ErrorCode e = ParseAttachRecord(in, req))
            return e;
        return Attach(req);
    case vdrive::IOCTL_FILEDISK_CLOSE_FILE:
        return in.empty() ? CloseFile() : ERROR_INVALID_PARAMETER;
    case vdrive::IOCTL_FILEDISK_QUERY_FILE:
        return in.empty() ? Query(outCapacity, out) : ERROR_INVALID_PARAMETER;
    case vdrive::IOCTL_FILEDISK_QUERY_FILE_ID:
        return in.empty() ? QueryFileId(outCapacity, out) : ERROR_INVALID_PARAMETER;
    case vdrive::FSCTL_DISMOUNT_VOLUME:
        return in.empty() ? DismountVolume() : ERROR_INVALID_PARAMETER;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

ErrorCode Session::Attach(const AttachRequest& req) {
    // Images are always opened read-only; the file size and the reserved
    // values of the record carry nothing this driver uses.
    return m_table.Open(m_device, m_letter, req);
}

ErrorCode Session::CloseFile() {
    auto m = m_table.Loaded(m_device);
    if (!m)
        return ERROR_SUCCESS;
    if (m_table.TryRemove(m))
        m_pendingClose.reset();
    else
        m_pendingClose = m;
    return ERROR_SUCCESS;
}

ErrorCode Session::DismountVolume() {
    if (auto pending = std::move(m_pendingClose)) {
        m_pendingClose.reset();
        return m_table.TryRemove(pending, kCloseGrace) ? ERROR_SUCCESS : ERROR_BUSY;
    }
    auto m = m_table.Loaded(m_device);
    if (m && !m_table.WaitUntilUnused(*m, kCloseGrace))
        return ERROR_BUSY;
    return ERROR_SUCCESS;
}

ErrorCode Session::Query(std::uint32_t outCapacity, std::vector<std::uint8_t>& out) {
    if (outCapacity < vdrive::query::kBufferSize)
        return ERROR_INSUFFICIENT_BUFFER;
    auto m = m_table.Loaded(m_device);
    if (!m)
        return ERROR_NOT_READY;
    out = BuildQueryRecord(static_cast<std::int64_t>(m->image->imageSize()), true, m->letter,
                           m->ntName);
    return ERROR_SUCCESS;
}

ErrorCode Session::QueryFileId(std::uint32_t outCapacity, std::vector<std::uint8_t>& out) {
    if (outCapacity < vdrive::file_id::kBufferSize)
        return ERROR_INSUFFICIENT_BUFFER;
    auto m = m_table.Loaded(m_device);
    if (!m)
        return ERROR_NOT_READY;
    struct stat st {};
    if (fstat(m->image->fd(), &st) != 0)
        return ErrorFromErrno(errno);
    // Device, then inode, each as two little-endian halves.
    for (const auto v :
         {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)}) {
        wire::PutU32(out, static_cast<std::uint32_t>(v));
        wire::PutU32(out, static_cast<std::uint32_t>(v >> 32));
    }
    return ERROR_SUCCESS;
}

} // namespace driver
