// The messages between a drive path opened with CreateFileW ("\\.\K:") and
// spindle-driver, over the AF_UNIX SOCK_SEQPACKET socket "driver.sock" in the
// runtime folder. One connection is one open handle. All integers are
// little-endian; every message starts with kWireMagic.
//
//   client -> driver, first message:  Hello
//     u32 magic, u32 version, u16 letter (UTF-16 code unit, 'A'..'Z'),
//     u16 zero, u32 name length in bytes, name (UTF-8 device name such as
//     "\Device\FileDisk\FileDiskCd0", no terminator)
//   driver -> client:                 HelloReply
//     u32 magic, u32 error (0: the device exists and the handle is open)
//
//   client -> driver, then any number of times:  Request
//     u32 magic, u32 control code, u32 input length, u32 output capacity,
//     input bytes
//   driver -> client:                 Reply
//     u32 magic, u32 error (0: success), u32 output length (<= capacity),
//     output bytes
//
// A message larger than kWireMaxMessage, a wrong magic or a short header is
// answered with ERROR_INVALID_PARAMETER (or the connection is closed when no
// answer can be framed).
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace port::wire {

inline constexpr std::uint32_t kWireMagic = 0x4C445053; // "SPDL"
inline constexpr std::uint32_t kWireVersion = 1;
inline constexpr std::size_t kWireMaxMessage = 64 * 1024;
inline constexpr const char* kSocketName = "driver.sock";

inline void PutU16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutU32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline std::uint16_t GetU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Hello {
    char16_t letter = 0;
    std::string device; // UTF-8
};
struct HelloReply {
    std::uint32_t error = 0;
};
struct Request {
    std::uint32_t code = 0;
    std::uint32_t outCapacity = 0;
    std::vector<std::uint8_t> input;
};
struct Reply {
    std::uint32_t error = 0;
    std::vector<std::uint8_t> output;
};

inline std::vector<std::uint8_t> Encode(const Hello& h) {
    std::vector<std::uint8_t> b;
    PutU32(b, kWireMagic);
    PutU32(b, kWireVersion);
    PutU16(b, static_cast<std::uint16_t>(h.letter));
    PutU16(b, 0);
    PutU32(b, static_cast<std::uint32_t>(h.device.size()));
    b.insert(b.end(), h.device.begin(), h.device.end());
    return b;
}
inline std::optional<Hello> DecodeHello(const std::uint8_t* p, std::size_t n) {
    if (n < 16 || GetU32(p) != kWireMagic || GetU32(p + 4) != kWireVersion)
        return std::nullopt;
    std::uint32_t len = GetU32(p + 12);
    if (len != n - 16)
        return std::nullopt;
    Hello h;
    h.letter = static_cast<char16_t>(GetU16(p + 8));
    h.device.assign(reinterpret_cast<const char*>(p + 16), len);
    return h;
}

inline std::vector<std::uint8_t> Encode(const HelloReply& r) {
    std::vector<std::uint8_t> b;
    PutU32(b, kWireMagic);
    PutU32(b, r.error);
    return b;
}
inline std::optional<HelloReply> DecodeHelloReply(const std::uint8_t* p, std::size_t n) {
    if (n != 8 || GetU32(p) != kWireMagic)
        return std::nullopt;
    return HelloReply{GetU32(p + 4)};
}

inline std::vector<std::uint8_t> Encode(const Request& r) {
    std::vector<std::uint8_t> b;
    PutU32(b, kWireMagic);
    PutU32(b, r.code);
    PutU32(b, static_cast<std::uint32_t>(r.input.size()));
    PutU32(b, r.outCapacity);
    b.insert(b.end(), r.input.begin(), r.input.end());
    return b;
}
inline std::optional<Request> DecodeRequest(const std::uint8_t* p, std::size_t n) {
    if (n < 16 || GetU32(p) != kWireMagic)
        return std::nullopt;
    std::uint32_t len = GetU32(p + 8);
    if (len != n - 16)
        return std::nullopt;
    Request r;
    r.code = GetU32(p + 4);
    r.outCapacity = GetU32(p + 12);
    r.input.assign(p + 16, p + 16 + len);
    return r;
}

inline std::vector<std::uint8_t> Encode(const Reply& r) {
    std::vector<std::uint8_t> b;
    PutU32(b, kWireMagic);
    PutU32(b, r.error);
    PutU32(b, static_cast<std::uint32_t>(r.output.size()));
    b.insert(b.end(), r.output.begin(), r.output.end());
    return b;
}
inline std::optional<Reply> DecodeReply(const std::uint8_t* p, std::size_t n) {
    if (n < 12 || GetU32(p) != kWireMagic)
        return std::nullopt;
    std::uint32_t len = GetU32(p + 8);
    if (len != n - 12)
        return std::nullopt;
    Reply r;
    r.error = GetU32(p + 4);
    r.output.assign(p + 12, p + 12 + len);
    return r;
}

} // namespace port::wire
