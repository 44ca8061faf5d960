// The large-read content stream: exact bytes across holes and block edges,
// and a build failure (not zeros) when the source changes under it.
#include "burner/IsoStream.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

#include <fcntl.h>

using TempDir = spindle_test::TempConfigDir;

namespace {

struct Stream {
    IsoStream* s = nullptr;
    ~Stream() {
        if (s)
            iso_stream_unref(s);
    }
};

Stream Open(const std::string& path, std::uint64_t size, burner::BuildFailure& failure) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    Stream s;
    EXPECT_EQ(burner::NewHostFileStream(path, size, st.st_dev, st.st_ino, &failure, &s.s), 1);
    return s;
}

} // namespace

TEST(HostFileStream, DeliversExactBytesAcrossHolesAndBlockEdges) {
    TempDir tmp;
    std::string path = tmp / "sparse.bin";
    const off_t size = (5 << 20) + 1000; // not a multiple of 2 KiB
    std::string data;
    for (unsigned i = 0; i < 300000; ++i)
        data += static_cast<char>('a' + i % 26);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, data.data(), data.size(), 3 << 20), static_cast<ssize_t>(data.size()));
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);

    std::atomic<bool> stop{false};
    burner::BuildFailure failure(stop);
    Stream s = Open(path, size, failure);
    ASSERT_EQ(iso_stream_open(s.s), 1);
    std::string got;
    char buf[2048];
    int n;
    while ((n = iso_stream_read(s.s, buf, sizeof buf)) > 0)
        got.append(buf, static_cast<std::size_t>(n));
    EXPECT_EQ(n, 0);
    iso_stream_close(s.s);
    EXPECT_FALSE(failure.Failed());
    ASSERT_EQ(got.size(), static_cast<std::size_t>(size));
    EXPECT_EQ(got.substr(0, 3 << 20), std::string(3 << 20, '\0'));
    EXPECT_EQ(got.substr(3 << 20, data.size()), data);
    EXPECT_EQ(got.find_first_not_of('\0', (3 << 20) + data.size()), std::string::npos);
}

TEST(HostFileStream, ChangedOrMissingSourceFailsTheBuild) {
    TempDir tmp;
    std::string path = tmp / "f.txt";
    spindle_test::WriteFile(path, std::string(5000, 'x'));
    std::atomic<bool> stop{false};
    {
        burner::BuildFailure failure(stop);
        Stream s = Open(path, 4000, failure); // grew since it was listed
        EXPECT_LT(iso_stream_open(s.s), 0);
        EXPECT_NE(failure.Message().find("changed"), std::string::npos);
    }
    {
        // Shrinks while it is read (after the first 1 MiB block).
        spindle_test::WriteFile(path, std::string(3 << 20, 'y'));
        burner::BuildFailure failure(stop);
        Stream s = Open(path, 3 << 20, failure);
        ASSERT_EQ(iso_stream_open(s.s), 1);
        char buf[2048];
        int n = iso_stream_read(s.s, buf, sizeof buf), last;
        ASSERT_EQ(::truncate(path.c_str(), 100), 0);
        while ((last = iso_stream_read(s.s, buf, sizeof buf)) > 0)
            n += last;
        EXPECT_LT(last, 0);
        EXPECT_EQ(n, 1 << 20);
        EXPECT_NE(failure.Message().find("changed"), std::string::npos);
        iso_stream_close(s.s);
    }
    {
        burner::BuildFailure failure(stop);
        Stream s = Open(tmp / "gone.txt", 10, failure);
        EXPECT_LT(iso_stream_open(s.s), 0);
        EXPECT_NE(failure.Message().find("gone.txt"), std::string::npos);
    }
}
