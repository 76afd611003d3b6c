#include "render/output_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "host/bounded_file.h"

namespace {

// The link's target as an absolute path without links; empty when it
// points to nothing.
std::string Resolved(const std::string& link) {
    char resolved[PATH_MAX];
    return realpath(link.c_str(), resolved) != nullptr ? resolved : "";
}

std::string LockPathFor(const std::string& target) {
    const size_t slash = target.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return directory + "/." + name + ".lock";
}

// Who holds the lock, as the lock file says.
std::string Holder(int descriptor) {
    char text[32] = {};
    const ssize_t n = pread(descriptor, text, sizeof text - 1, 0);
    const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
    return pid > 0 ? " (process " + std::to_string(pid) + ")" : "";
}

}  // namespace

std::string NotAFile(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return "";
    return KindOfFile(info.st_mode);
}

std::unique_ptr<OutputClaim> OutputClaim::Take(const std::string& path, const OutputRules& rules,
                                               std::string& error, bool& failedToClaim) {
    failedToClaim = false;
    std::string target = path;
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (!rules.followLink) {
            error = "--out " + path + " is a symbolic link; --follow-link writes the file it points to";
            return nullptr;
        }
        target = Resolved(path);
        if (target.empty()) {
            error = "--out " + path + " is a symbolic link to nothing";
            return nullptr;
        }
    }
    const std::string kind = NotAFile(target);
    if (!kind.empty()) {
        error = "--out " + target + " is " + kind + ", not a file: only a regular file is replaced";
        return nullptr;
    }
    // Taken before the file is looked for, so that what is seen holds for
    // the whole run. A lock file may be removed by its holder between our
    // open and our lock: the lock counts only on the file still there.
    const std::string lockPath = LockPathFor(target);
    int descriptor = -1;
    for (;;) {
        descriptor = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (descriptor < 0) {
            failedToClaim = true;
            error = "cannot write " + target + ": cannot create " + lockPath + ": " + std::strerror(errno);
            return nullptr;
        }
        if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            failedToClaim = true;
            error = "cannot write " + target + ": another program" + Holder(descriptor) + " is writing it";
            close(descriptor);
            return nullptr;
        }
        struct stat held {}, named {};
        if (fstat(descriptor, &held) == 0 && stat(lockPath.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            break;
        }
        close(descriptor);
    }
    std::unique_ptr<OutputClaim> claim(new OutputClaim(target, lockPath, descriptor));
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(descriptor, 0) != 0 || pwrite(descriptor, pid.data(), pid.size(), 0) < 0) {
        // The holder is only named in a refusal: the lock is what counts.
    }
    if (lstat(target.c_str(), &info) == 0 && !rules.overwrite) {
        error = target + " exists; --overwrite replaces it";
        return nullptr;
    }
    return claim;
}

OutputClaim::OutputClaim(std::string target, std::string lockPath, int descriptor)
    : target(std::move(target)), lockPath(std::move(lockPath)), descriptor(descriptor) {
    removal.Add(this->lockPath);
}

OutputClaim::~OutputClaim() {
    // Removed while still locked: whoever opened it meanwhile finds it gone
    // once it has the lock, and tries again.
    unlink(lockPath.c_str());
    close(descriptor);
}
