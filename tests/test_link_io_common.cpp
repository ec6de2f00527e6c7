// The timed read primitives on a non-blocking local socket pair.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

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

// A NUL is data like any other byte, first or not, and a NUL delimiter ends
// a record; the link stays usable for the next record.
TEST_F(IoCommon, NulBytesAreData) {
    peerSends(std::string("\0AB\x03" "C\0", 6));
    std::string record = "stale";
    EXPECT_EQ(ioc_read_delim(fds[0], 1, '\x03', record), 4);
    EXPECT_EQ(record, std::string("\0AB\x03", 4));
    EXPECT_EQ(ioc_read_delims(fds[0], 1, std::string_view("\0", 1), record), 2);
    EXPECT_EQ(record, std::string("C\0", 2));
}

// The same byte stream read with and without the link's buffer gives the same
// records; with it, bytes after a record wait for the next call, for every
// reader, and the main loop can see that they are there.
class IoCommonBuffered : public IoCommon, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        IoCommon::SetUp();
        if (GetParam()) ioc_buffer_begin(fds[0], false);
    }
    void TearDown() override {
        ioc_buffer_end(fds[0]);
        IoCommon::TearDown();
    }
};

TEST_P(IoCommonBuffered, RecordsComeOutOneByOneWhateverTheirChunks) {
    peerSends("AB\rCD\nEF");
    std::string record;
    EXPECT_EQ(ioc_read_delim(fds[0], 1, '\r', record), 3);
    EXPECT_EQ(record, "AB\r");
    if (GetParam()) {
        EXPECT_EQ(ioc_pending(fds[0]), 5u);
    }
    EXPECT_EQ(ioc_read_delims(fds[0], 1, "\r\n", record), 3);
    EXPECT_EQ(record, "CD\n");
    // The record's end comes in a later chunk.
    peerSends("G\r0123");
    EXPECT_EQ(ioc_read_delim(fds[0], 1, '\r', record), 4);
    EXPECT_EQ(record, "EFG\r");
    // A fixed-length read takes the kept bytes first, then the descriptor's.
    peerSends("45");
    EXPECT_EQ(ioc_read_nbytes(fds[0], 1, record, 6), 6);
    EXPECT_EQ(record, "012345");
    EXPECT_EQ(ioc_pending(fds[0]), 0u);
    EXPECT_EQ(ioc_read_delim(fds[0], 0, '\r', record), 0);
}

TEST_P(IoCommonBuffered, LimitAndEndOfFileAsBefore) {
    peerSends(std::string(kIocMaxRecord, 'x') + "\r");
    std::string record;
    EXPECT_EQ(ioc_read_delim(fds[0], 1, '\r', record), -1);  // the delimiter would be byte 65536
    close(fds[1]);
    fds[1] = -1;
    std::string rest;
    // End of file after the kept bytes: a failure for one reader, a time-out for the other.
    EXPECT_LE(ioc_read_delim(fds[0], 1, '\r', rest), 0);
    EXPECT_EQ(ioc_read_delims(fds[0], 1, "\r", rest), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, IoCommonBuffered, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Buffered" : "BytePerRead"; });

// A wait may be a fraction of a second (FLUSHTIMEOUT=0.2).
TEST_F(IoCommon, FractionalWaitEndsOnTime) {
    std::string record;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(ioc_read_delim(fds[0], IoWait::millis(200), '\r', record), 0);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 190);
    EXPECT_LT(ms, 900);
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
