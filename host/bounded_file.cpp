#include "host/bounded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Closes the descriptor on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor() {
        if (fd >= 0) close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd; }

private:
    int fd;
};

}  // namespace

const char* KindOfFile(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "not a regular file";
}

FileReadStatus ReadBoundedFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes,
                               std::string& error) {
    bytes.clear();
    // O_NONBLOCK: opening a named pipe for reading would otherwise wait for
    // a writer that may never come. Regular files ignore the flag.
    const FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.Get() < 0) {
        const int cause = errno;
        error = path + ": " + std::strerror(cause);
        return cause == ENOENT || cause == ENOTDIR ? FileReadStatus::Missing : FileReadStatus::Refused;
    }
    struct stat info {};
    if (fstat(file.Get(), &info) != 0) {
        error = path + ": " + std::strerror(errno);
        return FileReadStatus::Refused;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + " is " + KindOfFile(info.st_mode) + ", not a tile file";
        return FileReadStatus::Refused;
    }
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > maxBytes) {
        error = path + " has " + std::to_string(info.st_size) + " bytes, more than the " + std::to_string(maxBytes) +
                " a tile may have";
        return FileReadStatus::Refused;
    }
    // The file may grow while it is read: never read past the bound.
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t have = 0;
    while (have < bytes.size()) {
        const ssize_t n = read(file.Get(), bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            bytes.clear();
            return FileReadStatus::Refused;
        }
        if (n == 0) break;  // shrank meanwhile: what is there is the file
        have += static_cast<size_t>(n);
    }
    bytes.resize(have);
    return FileReadStatus::Read;
}
