// The drive manager against a real spindle-driver and its FUSE mount.
#include "vdrive/VirtualDrive.h"
#include "vdrive/VolumeLabel.h"

#include "port/DosDevices.h"
#include "port/DriveFiles.h"
#include "port/DriveInfo.h"
#include "port/LastError.h"
#include "port/Utf.h"
#include "tests/support/DriverProcess.h"
#include "tests/support/Iso.h"
#include "tests/support/TempEnv.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vdrive;
using spindle_test::DriverProcess;
using spindle_test::TempEnv;

namespace {

// Every file and folder of `source` is in `drive` with the same bytes, and
// nothing else is but the empty "rr_moved" folder where genisoimage
// relocates folders nested deeper than eight levels.
void ExpectSameTree(const fs::path& source, const fs::path& drive) {
    std::size_t count = 0;
    for (const auto& e : fs::recursive_directory_iterator(source)) {
        fs::path rel = fs::relative(e.path(), source);
        fs::path there = drive / rel;
        ++count;
        if (e.is_directory()) {
            EXPECT_TRUE(fs::is_directory(there)) << rel;
            continue;
        }
        ASSERT_TRUE(fs::exists(there)) << rel;
        EXPECT_EQ(fs::file_size(there), e.file_size()) << rel;
        EXPECT_TRUE(spindle_test::SameBytes(e.path(), there)) << rel;
    }
    std::size_t seen = 0;
    for (auto it = fs::recursive_directory_iterator(drive);
         it != fs::recursive_directory_iterator(); ++it) {
        if (it->path() != drive / "rr_moved")
            ++seen;
    }
    EXPECT_EQ(seen, count);
}

void MakeTree(const TempEnv& env) {
    spindle_test::WriteTree(
        env.root() + "/src",
        {{"readme.txt", "a small text\n"},
         {"empty.dat", ""},
         {"a/b/c/d/e/f/g/h/deep.bin", spindle_test::RandomBytes(70000, 7)},
         {std::string(120, 'n') + ".txt", "a long name"},
         {"\xc3\x9cn\xc3\xaf"
          "c\xc3\xb8"
          "d\xc3\xa9 \xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab"
          ".txt",
          "non-ASCII"},
         {"Music/track 01.bin", spindle_test::RandomBytes(3 * 1024 * 1024 + 5, 8)}});
    fs::create_directories(env.root() + "/src/empty folder");
}

std::string MakeIso(const TempEnv& env, const std::string& maker, const std::string& name) {
    std::string iso = env.root() + "/" + name;
    return spindle_test::MakeIso(maker, "-J -R -V Spindle", env.root() + "/src", iso) ? iso : "";
}

// The raw drive reads the image byte for byte, as a disc copy reads it.
void ExpectDriveReadsImage(char16_t letter, const std::string& iso) {
    port::UniqueHandle h(port::CreateFileW(port::DrivePath(letter).c_str(), port::GENERIC_READ,
                                           port::FILE_SHARE_READ | port::FILE_SHARE_WRITE, nullptr,
                                           port::OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(h.valid());
    std::int64_t size = 0;
    ASSERT_TRUE(port::GetFileSizeEx(h.get(), &size));
    EXPECT_EQ(static_cast<std::uint64_t>(size), fs::file_size(iso));
    std::string data(static_cast<size_t>(size), '\0');
    std::uint32_t got = 0;
    ASSERT_TRUE(
        port::ReadFile(h.get(), data.data(), static_cast<std::uint32_t>(size), &got, nullptr));
    EXPECT_EQ(got, static_cast<std::uint32_t>(size));
    EXPECT_TRUE(data == spindle_test::ReadFile(iso));
    EXPECT_FALSE(port::WriteFile(h.get(), "x", 1, &got, nullptr));
    EXPECT_EQ(port::GetLastError(), port::ERROR_WRITE_PROTECT);
}

MountRequest Request(const std::string& path) {
    MountRequest r;
    r.imagePath = port::ToUtf16(path);
    return r;
}

std::string Folder(const TempEnv& env, char letter) {
    return env.runtime() + "/drives/" + std::string(1, letter);
}

} // namespace

TEST(MountE2E, ImagesOfBothToolsReadBackWholeThenDismount) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    port::PushDosDevice("C:", "/");
    MakeTree(env);
    DriverProcess driver;
    ASSERT_TRUE(driver.ready());
    const std::string makers[] = {"genisoimage -quiet", "xorriso -as mkisofs"};
    for (const std::string& maker : makers) {
        SCOPED_TRACE(maker);
        std::string iso = MakeIso(env, maker, "tree.iso");
        ASSERT_FALSE(iso.empty());
        port::ErrorCode error = 1;
        ASSERT_TRUE(MountImage(u'K', Request(iso), error)) << error;
        EXPECT_EQ(error, 0u);
        ExpectSameTree(env.root() + "/src", Folder(env, 'K'));

        auto info = QueryMountedImage(u'K');
        ASSERT_TRUE(info);
        EXPECT_EQ(FromNtPath(info->imageName), port::ToUtf16(iso));
        EXPECT_NE(info->readOnly, 0u);
        EXPECT_EQ(static_cast<std::uint64_t>(info->fileSize), fs::file_size(iso));
        EXPECT_EQ(port::GetDriveTypeW(u"K:\\"), port::DRIVE_CDROM);
        char16_t label[255] = {};
        ASSERT_TRUE(port::GetVolumeInformationW(u"K:\\", label, 255, nullptr, nullptr, nullptr,
                                                nullptr, 0));
        EXPECT_EQ(std::u16string(label), u"Spindle");
        ExpectDriveReadsImage(u'K', iso);
        // The driver holds its image: no label is written underneath it.
        EXPECT_FALSE(WriteVolumeLabel(port::ToUtf16(iso), u"Changed", error));
        EXPECT_EQ(error, port::ERROR_SHARING_VIOLATION);

        // Read-only for everyone.
        EXPECT_LT(open((Folder(env, 'K') + "/readme.txt").c_str(), O_WRONLY), 0);
        EXPECT_LT(open((Folder(env, 'K') + "/new.txt").c_str(), O_WRONLY | O_CREAT, 0644), 0);

        DismountResult r = DismountDrive(u'K');
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_FALSE(IsDriveLetterUsed(u'K'));
        EXPECT_FALSE(QueryMountedImage(u'K'));
        EXPECT_FALSE(fs::exists(Folder(env, 'K')));
        EXPECT_TRUE(WriteVolumeLabel(port::ToUtf16(iso), u"Changed", error)) << error;
        fs::remove(iso);
    }
}

TEST(MountE2E, RefusalsLeaveEverythingAsItWas) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    MakeTree(env);
    // An image whose own name is not ASCII travels through the records and
    // comes back from the query unchanged.
    std::string iso = MakeIso(env, "genisoimage -quiet", "Scheibe \xc3\xbc \xe6\x97\xa5.iso");
    ASSERT_FALSE(iso.empty());
    DriverProcess driver;
    ASSERT_TRUE(driver.ready());
    port::ErrorCode error = 0;
    ASSERT_TRUE(MountImage(u'K', Request(iso), error));
    auto info = QueryMountedImage(u'K');
    ASSERT_TRUE(info);
    EXPECT_EQ(port::ToUtf8(FromNtPath(info->imageName)), iso);

    // The longest path whose NT form a query gives back whole (260 units),
    // and one past it.
    std::string longest = env.root() + "/" + std::string(260 - 5 - env.root().size(), 'l');
    fs::create_hard_link(iso, longest);
    fs::create_hard_link(iso, longest + "x");

    struct Case {
        char16_t letter;
        std::string path;
        port::ErrorCode error;
    };
    const Case cases[] = {
        {u'L', longest + "x", port::ERROR_FILENAME_EXCED_RANGE},
        {u'K', iso, port::ERROR_BUSY}, // letter taken
        {u'L', env.Write("text.iso", std::string(100000, 't')), port::ERROR_UNRECOGNIZED_VOLUME},
        {u'L', env.root() + "/missing.iso", port::ERROR_FILE_NOT_FOUND},
        {u'L', env.Write("short.iso", "x"), port::ERROR_UNRECOGNIZED_VOLUME},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(MountImage(c.letter, Request(c.path), error)) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
    }
    EXPECT_FALSE(IsDriveLetterUsed(u'L'));
    EXPECT_FALSE(fs::exists(Folder(env, 'L')));
    // The drive that was there is untouched and still serves its files.
    EXPECT_EQ(port::FirstDosDeviceTarget("K:"), "\\Device\\FileDisk\\FileDiskCd0");
    ASSERT_TRUE(QueryMountedImage(u'K'));
    EXPECT_TRUE(
        spindle_test::SameBytes(env.root() + "/src/readme.txt", Folder(env, 'K') + "/readme.txt"));
    EXPECT_TRUE(DismountDrive(u'K').ok);

    ASSERT_TRUE(MountImage(u'L', Request(longest), error)) << error;
    info = QueryMountedImage(u'L');
    ASSERT_TRUE(info);
    EXPECT_EQ(port::ToUtf8(FromNtPath(info->imageName)), longest);
    EXPECT_TRUE(DismountDrive(u'L').ok);
}

TEST(MountE2E, AFileHeldOpenKeepsTheDriveWorking) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    MakeTree(env);
    std::string iso = MakeIso(env, "genisoimage -quiet", "a.iso");
    DriverProcess driver;
    ASSERT_TRUE(driver.ready());
    port::ErrorCode error = 0;
    ASSERT_TRUE(MountImage(u'M', Request(iso), error));
    {
        std::ifstream held(Folder(env, 'M') + "/Music/track 01.bin", std::ios::binary);
        ASSERT_TRUE(held);
        DismountResult r = DismountDrive(u'M');
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.driveInUse);
        // Nothing is lost: the open file reads on, the drive answers, and
        // other files still open.
        std::vector<char> buf(4096);
        held.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        EXPECT_EQ(held.gcount(), 4096);
        EXPECT_TRUE(QueryMountedImage(u'M'));
        EXPECT_TRUE(IsDriveLetterUsed(u'M'));
        EXPECT_TRUE(spindle_test::SameBytes(env.root() + "/src/readme.txt",
                                            Folder(env, 'M') + "/readme.txt"));
    }
    EXPECT_TRUE(DismountDrive(u'M').ok);
    EXPECT_FALSE(IsDriveLetterUsed(u'M'));
}

TEST(MountE2E, AFileOverFourGiBReadsBackWhole) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    struct statvfs sv {};
    if (statvfs(env.root().c_str(), &sv) != 0 ||
        static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize < (12ull << 30))
        GTEST_SKIP() << "less than 12 GiB free for a 4 GiB image";
    env.EmptyTable();
    // A sparse source with data at its start, across the 4 GiB line and at its end.
    const std::uint64_t size = (4ull << 30) + 3 * 1024 * 1024 + 17;
    std::string big = env.root() + "/big/huge.bin";
    fs::create_directories(env.root() + "/big");
    {
        std::ofstream f(big, std::ios::binary);
        for (std::uint64_t at :
             {std::uint64_t{0}, std::uint64_t{(4ull << 30) - 5000}, size - 100}) {
            f.seekp(static_cast<std::streamoff>(at));
            std::string mark = "mark@" + std::to_string(at) + std::string(200, '#');
            f.write(mark.data(),
                    static_cast<std::streamsize>(std::min<std::uint64_t>(mark.size(), size - at)));
        }
    }
    ASSERT_EQ(fs::file_size(big), size);
    std::string iso = env.root() + "/big.iso";
    ASSERT_TRUE(spindle_test::MakeIso("xorriso -as mkisofs", "-iso-level 3 -J -R",
                                      env.root() + "/big", iso));
    DriverProcess driver;
    ASSERT_TRUE(driver.ready());
    port::ErrorCode error = 0;
    ASSERT_TRUE(MountImage(u'N', Request(iso), error)) << error;
    std::string there = Folder(env, 'N') + "/huge.bin";
    ASSERT_TRUE(fs::exists(there));
    EXPECT_EQ(fs::file_size(there), size);
    EXPECT_TRUE(spindle_test::SameBytes(big, there));
    EXPECT_TRUE(DismountDrive(u'N').ok);
}

TEST(MountE2E, LettersOfAnEndedDriverAreFreed) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    MakeTree(env);
    std::string iso = MakeIso(env, "genisoimage -quiet", "a.iso");
    port::ErrorCode error = 0;
    {
        // A clean stop takes its letters with it.
        DriverProcess driver;
        ASSERT_TRUE(driver.ready());
        ASSERT_TRUE(MountImage(u'K', Request(iso), error));
        EXPECT_EQ(driver.Stop(), 0);
        EXPECT_FALSE(IsDriveLetterUsed(u'K'));
    }
    {
        DriverProcess driver;
        ASSERT_TRUE(driver.ready());
        ASSERT_TRUE(MountImage(u'K', Request(iso), error));
        ASSERT_TRUE(MountImage(u'L', Request(iso), error));
        EXPECT_EQ(driver.Stop(SIGKILL), 128 + SIGKILL);
    }
    // A killed driver leaves them bound; without a driver a dismount drops one.
    EXPECT_TRUE(IsDriveLetterUsed(u'K'));
    EXPECT_TRUE(DismountDrive(u'L').ok);
    EXPECT_FALSE(IsDriveLetterUsed(u'L'));

    // The next driver removes the rest: K mounts again.
    DriverProcess driver;
    ASSERT_TRUE(driver.ready());
    EXPECT_FALSE(IsDriveLetterUsed(u'K'));
    ASSERT_TRUE(MountImage(u'K', Request(iso), error)) << error;
    EXPECT_TRUE(
        spindle_test::SameBytes(env.root() + "/src/readme.txt", Folder(env, 'K') + "/readme.txt"));

    // K's binding removed behind the driver's back: its device is passed
    // over (freed) by the next mount instead of refusing every mount.
    ASSERT_TRUE(port::RemoveDosDevice("K:", std::nullopt, false));
    ASSERT_TRUE(MountImage(u'M', Request(iso), error)) << error;
    EXPECT_TRUE(
        spindle_test::SameBytes(env.root() + "/src/readme.txt", Folder(env, 'M') + "/readme.txt"));
    ASSERT_TRUE(MountImage(u'K', Request(iso), error)) << error;
    // Such a drive can also be dismounted by the letter it shows.
    ASSERT_TRUE(port::RemoveDosDevice("M:", std::nullopt, false));
    EXPECT_TRUE(DismountDrive(u'M').ok);
    EXPECT_FALSE(fs::exists(Folder(env, 'M')));
}

TEST(MountE2E, MountsStartedAtOnceByManyProcessesEachGetTheirOwnDevice) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    MakeTree(env);
    std::string iso = MakeIso(env, "genisoimage -quiet", "a.iso");
    ASSERT_FALSE(iso.empty());
    DriverProcess driver;
    ASSERT_TRUE(driver.ready());
    const std::string letters = "EFGHIJKL";
    std::vector<pid_t> children;
    for (char letter : letters) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            port::ErrorCode error = 0;
            bool ok = MountImage(static_cast<char16_t>(letter), Request(iso), error);
            _exit(ok ? 0 : static_cast<int>(error & 0xFF));
        }
        children.push_back(pid);
    }
    for (size_t i = 0; i < children.size(); ++i) {
        int status = 0;
        waitpid(children[i], &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << letters[i] << ": error " << WEXITSTATUS(status);
    }
    for (char letter : letters) {
        EXPECT_TRUE(QueryMountedImage(static_cast<char16_t>(letter))) << letter;
        EXPECT_TRUE(spindle_test::SameBytes(env.root() + "/src/readme.txt",
                                            Folder(env, letter) + "/readme.txt"))
            << letter;
        EXPECT_TRUE(DismountDrive(static_cast<char16_t>(letter)).ok) << letter;
    }
}
