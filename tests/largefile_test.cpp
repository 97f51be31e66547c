// Files of 2 GiB and more, and times past January 2038, on 32-bit Linux (armhf) as on 64-bit: with
// the C library's 32-bit defaults such a file fails to open or to give its status, and lists as a
// missing one. The files are sparse, so no test writes gigabytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "plugin/exports.h"
#include "plugin/records.h"
#include "tests/support.h"

namespace {

// A sparse file of `size` bytes, last written at `writeTime`; false when the system refuses.
bool MakeSparse(const std::string& path, uint64_t size, int64_t writeTime) {
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0) {
        return false;
    }
    const timespec times[2] = {{static_cast<time_t>(writeTime), 0},
                               {static_cast<time_t>(writeTime), 0}};
    bool made = ftruncate(fd, static_cast<off_t>(size)) == 0 && futimens(fd, times) == 0;
    return close(fd) == 0 && made;
}

TEST(LargeFiles, StatusReadingAndListingSeeTheWholeSizeAndTime) {
    struct Case {
        uint64_t Size;
        int64_t WriteTime;
    };
    const Case cases[] = {
        {0x7FFFFFFFULL, 0x7FFFFFFFLL},   // the last size and time a signed 32-bit number holds
        {0x80000000ULL, 0x80000000LL},   // one past each: 2 GiB, 2038-01-19 03:14:08 UTC
        {0x100000001ULL, 2208988800LL},  // past what 32 bits hold at all; 2040-01-01
        {3ULL << 30, 1700000000LL},      // a film of 3 GiB, written in 2023
        {0xFFFFFFFFFFULL, 4102444800LL}, // a terabyte; 2100-01-01
    };
    std::string dir = TestFolder();
    std::string song = dir + "/big.flac", playlist = dir + "/big.m3u";
    WriteFile(playlist, "big.flac\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Size << " bytes at " << c.WriteTime);
        ASSERT_TRUE(MakeSparse(song, c.Size, c.WriteTime));

        FileStatus status = {};
        ASSERT_TRUE(GetFileStatus(WidePath(song).c_str(), &status));
        EXPECT_EQ(status.Size, c.Size);
        EXPECT_EQ(status.WriteTime, c.WriteTime);

        // Opened for a copy, and read at its far end.
        PlatformFile* file = FileOpen(WidePath(song).c_str(), FileForReading);
        ASSERT_NE(file, nullptr);
        unsigned char last = 0xA5;
        EXPECT_TRUE(FileSeekFromEnd(file, 1));
        EXPECT_EQ(FileRead(file, &last, 1), 1u);
        EXPECT_EQ(last, 0);
        EXPECT_TRUE(FileClose(file));

        // Listed as the host sees it: both halves of the size, the time the record can hold.
        std::u16string arc = WidePath(playlist);
        tOpenArchiveDataW open = {&arc[0], 0, 0, nullptr, 0, 0, 0};
        void* handle = OpenArchiveW(&open);
        ASSERT_NE(handle, nullptr);
        tHeaderDataExW header;
        ASSERT_EQ(ReadHeaderExW(handle, &header), 0);
        EXPECT_EQ(header.UnpSize, static_cast<unsigned>(c.Size & 0xFFFFFFFF));
        EXPECT_EQ(header.UnpSizeHigh, static_cast<unsigned>(c.Size >> 32));
        EXPECT_EQ(header.FileTime, ThisHost.UnixTimes
                                       ? UnixHeaderTime(c.WriteTime)
                                       : static_cast<int>(TimeToDosDateTime(c.WriteTime)));
        EXPECT_EQ(CloseArchive(handle), 0);
    }
}

} // namespace
