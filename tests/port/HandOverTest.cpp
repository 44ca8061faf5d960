// The hand-over of a second start's arguments over the socket beside the
// instance lock: what arrives, what the answer says, and who may connect.
#include "port/HandOver.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using spindle_test::TempEnv;

TEST(HandOver, ArgumentsArriveWholeAndTheAnswerComesBack) {
    TempEnv env;
    std::vector<std::vector<std::string>> received;
    std::string answer;
    port::HandOverListener listener;
    ASSERT_TRUE(listener.Listen("Instance", [&](const std::vector<std::string>& args) {
        received.push_back(args);
        return answer;
    }));
    struct stat st {};
    ASSERT_EQ(lstat(port::HandOverSocket("Instance").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the user's own socket";

    struct Case {
        std::vector<std::string> args;
        std::string answer; // empty: taken
    } cases[] = {
        {{}, ""}, // a start without a file still reaches the window
        {{"--burn", "--", "/m/a b ä.cue"}, ""},
        {{"", "-"}, ""},
        {{"x.iso"}, "its window is closing"},
    };
    for (const Case& c : cases) {
        answer = c.answer;
        const port::HandOverFault fault = port::HandOver("Instance", c.args);
        EXPECT_EQ(fault.error,
                  c.answer.empty() ? port::HandOverError::None : port::HandOverError::Refused);
        EXPECT_EQ(port::Describe(fault), c.answer);
        ASSERT_FALSE(received.empty());
        EXPECT_EQ(received.back(), c.args);
    }
    EXPECT_EQ(received.size(), std::size(cases));

    // A message that is not made of the arguments is refused without the
    // receiver being asked.
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    port::HandOverSocket("Instance").copy(addr.sun_path, sizeof addr.sun_path - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(send(fd, "garbage", 7, 0), 7);
    char reply[256] = {};
    const ssize_t n = recv(fd, reply, sizeof reply, 0);
    close(fd);
    ASSERT_GT(n, 1);
    EXPECT_EQ(reply[0], '\1');
    EXPECT_EQ(std::string(reply + 1, n - 1), "the start arguments did not arrive whole");
    EXPECT_EQ(received.size(), std::size(cases));

    listener.Stop();
    EXPECT_NE(lstat(port::HandOverSocket("Instance").c_str(), &st), 0) << "the socket goes";
}
