// One connection to the driver, that is one open handle of a drive path: the
// Hello names the device and the letter it was opened through; each request
// is a control code with its input, answered with an error number and output.
// Socket-free, so the whole protocol can be exercised in memory.
//
// Closing a drive while one of its files is open. The client closes a drive
// with IOCTL_FILEDISK_CLOSE_FILE followed by FSCTL_DISMOUNT_VOLUME on the
// same handle; pulling the image from under a reader would break it, so:
//  - CLOSE_FILE with no file of the drive open removes the image at once;
//    with a file open it only marks a pending close and answers success.
//  - FSCTL_DISMOUNT_VOLUME completes a pending close when no file is open
//    (folder gone, success); while a file is open it fails with ERROR_BUSY
//    and cancels the pending close, so the drive stays fully usable and the
//    user can close the file and try again. Without a pending close it fails
//    with ERROR_BUSY while a file is open, else succeeds.
//  - A connection that ends with a close pending completes it when no file
//    is open by then, else cancels it.
// The kernel reports a closed file a moment after close() returned, so the
// dismount gives files half a second to go before it answers ERROR_BUSY.
#pragma once

#include "driver/DeviceTable.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace driver {

class Session {
public:
    explicit Session(DeviceTable& table) : m_table(table) {}
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Answers the first message. `keep` is false when the connection must end.
    std::vector<std::uint8_t> OnHello(const std::uint8_t* msg, std::size_t len, bool& keep);

    // Answers one request message (any bytes at all).
    std::vector<std::uint8_t> OnRequest(const std::uint8_t* msg, std::size_t len);

    // The error and output of one control code (the part of OnRequest after
    // framing).
    port::ErrorCode Control(std::uint32_t code, const std::vector<std::uint8_t>& in,
                            std::uint32_t outCapacity, std::vector<std::uint8_t>& out);

private:
    port::ErrorCode Attach(const AttachRequest& req);
    port::ErrorCode CloseFile();
    port::ErrorCode DismountVolume();
    port::ErrorCode Query(std::uint32_t outCapacity, std::vector<std::uint8_t>& out);
    port::ErrorCode QueryFileId(std::uint32_t outCapacity, std::vector<std::uint8_t>& out);

    DeviceTable& m_table;
    DeviceId m_device;
    char m_letter = 0;
    std::shared_ptr<Mount> m_pendingClose;
};

} // namespace driver
