// The protocol of one connection, in memory: Hello, the control codes and
// their errors, the device table's busy rules, closing a drive while a file
// of it is open, and random bytes that must only ever give error answers.
#include "driver/Session.h"
#include "port/DriverWire.h"
#include "port/Utf.h"
#include "tests/support/Iso.h"
#include "vdrive/DriveRecords.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

using namespace driver;
using namespace spindle_test;
using namespace port;
namespace w = port::wire;

namespace {

class Recorder : public DeviceTable::Observer {
public:
    void DriveChanged(char letter) override { changes += letter; }
    std::string changes;
};

struct Conn {
    std::unique_ptr<Session> session;
    ErrorCode hello = ERROR_GEN_FAILURE;
    bool keep = false;

    Conn(DeviceTable& t, const std::string& device, char16_t letter) : session(new Session(t)) {
        auto msg = w::Encode(w::Hello{letter, device});
        auto reply = w::DecodeHelloReply(session->OnHello(msg.data(), msg.size(), keep).data(), 8);
        hello = reply ? reply->error : ERROR_GEN_FAILURE;
    }
    ErrorCode Call(std::uint32_t code, std::vector<std::uint8_t> in = {}, std::uint32_t cap = 0,
                   std::vector<std::uint8_t>* out = nullptr) {
        auto msg = w::Encode(w::Request{code, cap, std::move(in)});
        auto bytes = session->OnRequest(msg.data(), msg.size());
        auto reply = w::DecodeReply(bytes.data(), bytes.size());
        EXPECT_TRUE(reply);
        if (!reply)
            return ERROR_GEN_FAILURE;
        EXPECT_LE(reply->output.size(), cap);
        if (out)
            *out = reply->output;
        return reply->error;
    }
    ErrorCode Open(const std::string& path) {
        auto rec = vdrive::BuildAttachRecordW(u"\\??\\" + ToUtf16(path), 0, 0, true);
        return Call(vdrive::IOCTL_FILEDISK_OPEN_FILE_W,
                    {rec->bytes.begin(), rec->bytes.begin() + rec->sentSize});
    }
    ErrorCode OpenClassic(const std::string& path) {
        auto rec = vdrive::BuildAttachRecord(u"\\??\\" + ToUtf16(path), 0, true);
        return Call(vdrive::IOCTL_FILEDISK_OPEN_FILE,
                    {rec.bytes.begin(), rec.bytes.begin() + rec.sentSize});
    }
    ErrorCode Close() { return Call(vdrive::IOCTL_FILEDISK_CLOSE_FILE); }
    ErrorCode Dismount() { return Call(vdrive::FSCTL_DISMOUNT_VOLUME); }
    ErrorCode Query(std::uint32_t cap = 276, std::vector<std::uint8_t>* out = nullptr) {
        return Call(vdrive::IOCTL_FILEDISK_QUERY_FILE, {}, cap, out);
    }
};

const char* kCd0 = "\\Device\\FileDisk\\FileDiskCd0";
const char* kCd1 = "\\Device\\FileDisk\\FileDiskCd1";

class SessionTest : public testing::Test {
protected:
    void SetUp() override {
        std::string src = tmp.path() + "/src";
        Shell("mkdir -p " + src);
        WriteFile(src + "/f.txt", "data");
        iso = tmp.path() + "/a.iso";
        ASSERT_TRUE(BuildIso(IsoTool::Xorriso, src, iso));
        table.SetObserver(&recorder);
    }
    TempDir tmp;
    std::string iso;
    DeviceTable table;
    Recorder recorder;
};

} // namespace

TEST_F(SessionTest, HelloNamesADeviceAndALetter) {
    struct Case {
        std::string device;
        char16_t letter;
        ErrorCode error;
    } cases[] = {
        {kCd0, u'K', ERROR_SUCCESS},
        {"\\Device\\FileDisk\\FileDisk31", u'a', ERROR_SUCCESS},
        {"\\Device\\FileDisk\\FileDiskCd32", u'K', ERROR_FILE_NOT_FOUND},
        {"/dev/sr0", u'K', ERROR_FILE_NOT_FOUND},
        {kCd0, u'@', ERROR_FILE_NOT_FOUND},
        {kCd0, u'[', ERROR_FILE_NOT_FOUND},
        {kCd0, u'Ä', ERROR_FILE_NOT_FOUND},
        {kCd0, 0, ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device + " " + std::to_string(c.letter));
        Conn conn(table, c.device, c.letter);
        EXPECT_EQ(conn.hello, c.error);
        EXPECT_EQ(conn.keep, c.error == ERROR_SUCCESS);
    }
    // A Hello that is not one.
    Session s(table);
    bool keep = true;
    std::vector<std::uint8_t> junk = {1, 2, 3};
    auto reply = w::DecodeHelloReply(s.OnHello(junk.data(), junk.size(), keep).data(), 8);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->error, ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(keep);
}

TEST_F(SessionTest, OpenQueryCloseOneDevice) {
    Conn k(table, kCd0, u'K');
    EXPECT_EQ(k.Query(), ERROR_NOT_READY); // empty device: no answer
    EXPECT_EQ(k.Close(), ERROR_SUCCESS);   // closing an empty device is fine
    EXPECT_EQ(k.Open(iso), ERROR_SUCCESS);
    EXPECT_EQ(recorder.changes, "K");

    std::vector<std::uint8_t> out;
    EXPECT_EQ(k.Query(275, &out), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(k.Query(4096, &out), ERROR_SUCCESS);
    ASSERT_EQ(out.size(), 276u);
    auto info = vdrive::ParseQueryRecord(out.data(), out.size());
    EXPECT_EQ(info.imageName, u"\\??\\" + ToUtf16(iso));
    EXPECT_EQ(static_cast<std::uint64_t>(info.fileSize),
              table.Loaded({Family::Cd, 0})->image->imageSize());
    EXPECT_NE(info.readOnly, 0u);

    // Another handle of the same device sees the same image.
    Conn again(table, kCd0, u'K');
    EXPECT_EQ(again.Query(), ERROR_SUCCESS);
    // The device is taken, and so is the letter for another device.
    EXPECT_EQ(again.Open(iso), ERROR_BUSY);
    Conn other(table, kCd1, u'K');
    EXPECT_EQ(other.Open(iso), ERROR_BUSY);
    EXPECT_EQ(other.Query(), ERROR_NOT_READY);

    EXPECT_EQ(k.Close(), ERROR_SUCCESS);
    EXPECT_EQ(k.Dismount(), ERROR_SUCCESS);
    EXPECT_EQ(recorder.changes, "KK");
    EXPECT_EQ(k.Query(), ERROR_NOT_READY);
    EXPECT_FALSE(table.ByLetter('K'));
    // Free again: the classic record works as well.
    EXPECT_EQ(other.OpenClassic(iso), ERROR_SUCCESS);
    EXPECT_TRUE(table.ByLetter('K'));
}

TEST_F(SessionTest, OpenErrors) {
    Conn k(table, kCd0, u'K');
    WriteFile(tmp.path() + "/text.iso", "not an image");
    EXPECT_EQ(k.Open(tmp.path() + "/missing.iso"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(k.Open(tmp.path() + "/text.iso"), ERROR_UNRECOGNIZED_VOLUME);
    auto rel = vdrive::BuildAttachRecordW(u"\\??\\C:\\a.iso", 0, 0, true);
    EXPECT_EQ(k.Call(vdrive::IOCTL_FILEDISK_OPEN_FILE_W,
                     {rel->bytes.begin(), rel->bytes.begin() + rel->sentSize}),
              ERROR_INVALID_NAME);
    EXPECT_EQ(k.Call(vdrive::IOCTL_FILEDISK_OPEN_FILE_W, {1, 2, 3}), ERROR_BAD_LENGTH);
    EXPECT_EQ(k.Call(vdrive::IOCTL_FILEDISK_CLOSE_FILE, {0}), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(k.Call(vdrive::IOCTL_FILEDISK_QUERY_FILE, {0}, 276), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(k.Call(0x8000E008), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(recorder.changes, "");
    EXPECT_EQ(k.Query(), ERROR_NOT_READY);
}

TEST_F(SessionTest, CloseWhileAFileIsOpenKeepsTheDriveWorking) {
    Conn k(table, kCd0, u'K');
    ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);
    auto reader = table.AcquireFile(table.ByLetter('K')->serial); // a file held open
    ASSERT_TRUE(reader);

    // Close, then dismount: refused, and the close is cancelled.
    EXPECT_EQ(k.Close(), ERROR_SUCCESS);
    EXPECT_TRUE(table.ByLetter('K'));
    EXPECT_EQ(k.Dismount(), ERROR_BUSY);
    EXPECT_TRUE(table.ByLetter('K'));
    EXPECT_EQ(k.Query(), ERROR_SUCCESS);
    // A dismount alone is refused too while the file is open.
    EXPECT_EQ(k.Dismount(), ERROR_BUSY);

    // A connection that ends with its close pending cancels it.
    {
        Conn gone(table, kCd0, u'K');
        EXPECT_EQ(gone.Close(), ERROR_SUCCESS);
    }
    EXPECT_TRUE(table.ByLetter('K'));

    // The file closes; the retry goes through.
    table.ReleaseFile(*reader);
    reader.reset();
    EXPECT_EQ(k.Close(), ERROR_SUCCESS);
    EXPECT_EQ(k.Dismount(), ERROR_SUCCESS);
    EXPECT_FALSE(table.ByLetter('K'));
}

TEST_F(SessionTest, PendingCloseCompletesWhenTheConnectionEndsAfterTheFileClosed) {
    Conn k(table, kCd0, u'K');
    ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);
    auto m = table.ByLetter('K');
    auto reader = table.AcquireFile(m->serial);
    {
        Conn closer(table, kCd0, u'K');
        EXPECT_EQ(closer.Close(), ERROR_SUCCESS);
        table.ReleaseFile(*reader);
    }
    EXPECT_FALSE(table.ByLetter('K'));
    // The stale mount can no longer be opened, and a new image on the same
    // device never answers to the old serial.
    EXPECT_FALSE(table.AcquireFile(m->serial));
    ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);
    EXPECT_NE(table.ByLetter('K')->serial, m->serial);
    // A pending close of the old image does not touch the new one.
    EXPECT_TRUE(table.TryRemove(m));
    EXPECT_TRUE(table.ByLetter('K'));
}

TEST_F(SessionTest, RandomBytesOnlyEverGetErrorAnswers) {
    std::mt19937 rng(12345);
    const std::uint32_t codes[] = {vdrive::IOCTL_FILEDISK_OPEN_FILE_W,
                                   vdrive::IOCTL_FILEDISK_OPEN_FILE,
                                   vdrive::IOCTL_FILEDISK_CLOSE_FILE,
                                   vdrive::IOCTL_FILEDISK_QUERY_FILE,
                                   vdrive::IOCTL_FILEDISK_QUERY_FILE_ID,
                                   vdrive::FSCTL_DISMOUNT_VOLUME,
                                   0,
                                   0xFFFFFFFF};
    auto valid = vdrive::BuildAttachRecordW(u"\\??\\" + ToUtf16(iso), 0, 0, true);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0;
         i < 20000 && std::chrono::steady_clock::now() - start < std::chrono::seconds(10); ++i) {
        Session s(table);
        std::vector<std::uint8_t> msg(rng() % 700);
        for (auto& b : msg)
            b = static_cast<std::uint8_t>(rng());
        bool keep = false;
        if (rng() % 2) {
            // A real Hello, then a request with a real code and random or
            // mutated input.
            auto hello = w::Encode(w::Hello{u'K', kCd0});
            s.OnHello(hello.data(), hello.size(), keep);
            ASSERT_TRUE(keep);
            std::vector<std::uint8_t> in = msg;
            if (rng() % 2) {
                in.assign(valid->bytes.begin(), valid->bytes.begin() + valid->sentSize);
                in[rng() % in.size()] = static_cast<std::uint8_t>(rng());
                in.resize(rng() % (in.size() + 8), 0);
            }
            msg = w::Encode(w::Request{codes[rng() % std::size(codes)],
                                       static_cast<std::uint32_t>(rng() % 600), in});
            if (rng() % 4 == 0)
                msg.resize(rng() % msg.size());
            auto reply = s.OnRequest(msg.data(), msg.size());
            ASSERT_TRUE(w::DecodeReply(reply.data(), reply.size()));
        } else {
            auto reply = s.OnHello(msg.data(), msg.size(), keep);
            ASSERT_TRUE(w::DecodeHelloReply(reply.data(), reply.size()));
        }
        // Whatever a mutated record opened is closed again.
        if (auto m = table.Loaded({Family::Cd, 0}))
            table.TryRemove(m);
    }
}
