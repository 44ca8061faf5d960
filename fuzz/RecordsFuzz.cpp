// The driver's parsing of what a client sends: the socket protocol's
// messages and the attach records inside them.
#include "driver/Records.h"
#include "port/DriverWire.h"
#include "port/FileDiskRecords.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace w = port::wire;
    w::DecodeHello(data, size);
    w::DecodeRequest(data, size);
    w::DecodeReply(data, size);
    std::span<const std::uint8_t> in(data, size);
    driver::AttachRequest req;
    for (auto parse : {driver::ParseAttachRecordW, driver::ParseAttachRecord}) {
        if (parse(in, req) != port::ERROR_SUCCESS)
            continue;
        std::string path;
        if (driver::HostPathFromNtName(req.ntName, path) == port::ERROR_SUCCESS && path.empty())
            __builtin_trap(); // an accepted name always names a path
        auto query = driver::BuildQueryRecord(req.fileSize, req.readOnly, 'K', req.ntName);
        if (query.size() != vdrive::query::kBufferSize)
            __builtin_trap();
    }
    return 0;
}
