// Reading a tile file never blocks, never reads what is not a regular file
// and never takes more than its bound.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/bounded_file.h"

namespace {

namespace fs = std::filesystem;

class BoundedFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory = fs::temp_directory_path() / ("zarvo-bounded-file-" + std::to_string(getpid()));
        fs::create_directories(directory);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }
    std::string Path(const char* name) const { return (directory / name).string(); }

    fs::path directory;
};

TEST_F(BoundedFileTest, EachKindOfPathComesToOneOutcome) {
    std::ofstream(Path("tile.png")) << "0123456789";
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    fs::create_directories(Path("folder"));
    // 20 GB of nothing: sparse, so it costs no disk.
    {
        const int fd = open(Path("sparse").c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t{20} << 30), 0);
        close(fd);
    }
    struct Case {
        std::string path;
        size_t bound;
        FileReadStatus status;
        const char* reason;
    } cases[] = {
        {Path("tile.png"), 10, FileReadStatus::Read, ""},
        {Path("tile.png"), 9, FileReadStatus::Refused, "has 10 bytes, more than the 9 a tile may have"},
        {Path("absent.png"), 10, FileReadStatus::Missing, "absent.png: No such file"},
        {Path("absent/0/0.png"), 10, FileReadStatus::Missing, "No such file"},
        {Path("tile.png") + "/0.png", 10, FileReadStatus::Missing, "Not a directory"},
        {Path("folder"), 10, FileReadStatus::Refused, "folder is a directory"},
        {Path("pipe"), 10, FileReadStatus::Refused, "pipe is a named pipe"},
        {"/dev/zero", 10, FileReadStatus::Refused, "/dev/zero is a character device"},
        {Path("sparse"), 4 << 20, FileReadStatus::Refused, "has 21474836480 bytes"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_EQ(ReadBoundedFile(c.path, c.bound, bytes, error), c.status) << c.path;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.path << ": " << error;
        EXPECT_EQ(bytes.size(), c.status == FileReadStatus::Read ? 10u : 0u) << c.path;
    }
}

}  // namespace
