// The timed read primitives on a non-blocking local socket pair.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "io_pms/io_common.h"

namespace {

class IoCommon : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    }
    void TearDown() override {
        close(fds[0]);
        if (fds[1] >= 0) close(fds[1]);
    }
    void peerSends(const std::string& bytes) {
        ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    int fds[2] = {-1, -1};
};

TEST_F(IoCommon, RecordStartingWithNulIsRefused) {
    peerSends(std::string("\0AB\x03", 4));
    std::string record = "stale";
    errno = 0;
    EXPECT_EQ(ioc_read_delim(fds[0], 1, '\x03', record), -1);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(record, "");
}

TEST_F(IoCommon, EmptyDelimiterSetEndsByTimeoutOrEndOfFile) {
    peerSends("ABC");
    std::string record;
    EXPECT_EQ(ioc_read_delims(fds[0], 1, "", record), 0);
    EXPECT_EQ(record, "");
    close(fds[1]);
    fds[1] = -1;
    EXPECT_EQ(ioc_read_delim(fds[0], 1, 'C', record), -1);  // end of file
}

TEST_F(IoCommon, FixedCountAndWholeWrites) {
    EXPECT_EQ(fd_write_all(fds[1], "0123456789"), 10);
    std::string data;
    EXPECT_EQ(ioc_read_nbytes(fds[0], 1, data, 4), 4);
    EXPECT_EQ(data, "0123");
    EXPECT_EQ(ioc_read_nbytes(fds[0], 1, data, 6), 6);
    EXPECT_EQ(data, "456789");
    EXPECT_EQ(ioc_read_nbytes(fds[0], 1, data, 6), 0);  // time-out
    EXPECT_EQ(data, "");

    // A full socket buffer: the write stops and reports nothing written.
    std::string big(1 << 22, 'x');
    EXPECT_EQ(fd_write_all(fds[1], big), 0);
}

TEST(IoCommonBadDescriptor, EveryPrimitiveFailsWithEbadf) {
    std::string out;
    errno = 0;
    EXPECT_EQ(ioc_read_nbytes(-1, 1, out, 4), -1);
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(ioc_read_delim(-1, 1, '\r', out), -1);
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(ioc_read_delims(-1, 1, "\r", out), -1);
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(fd_write_all(-1, "x"), -1);
    EXPECT_EQ(errno, EBADF);
}

}  // namespace
