#pragma once

#include <memory>
#include <string>

#include "render/stop_signals.h"

// How an output's path may be taken.
struct OutputRules {
    bool overwrite = false;   // an existing file is replaced
    bool followLink = false;  // a symbolic link's target is written (else a link is refused)
};

// An output file claimed for the whole run: a lock held on a lock file
// beside it (".NAME.lock"), so that a second program writing the same file
// is refused at once, before it does any work, instead of both running and
// one result being lost. The lock ends with the process however it ends;
// the lock file is removed when the claim ends or the program is stopped.
class OutputClaim {
public:
    // Null, with one line naming the path in `error`, when `path` is not a
    // regular file or missing (a directory, a device, a named pipe), is a
    // symbolic link and the rules do not follow links (or its target is
    // none of those either), exists and the rules do not overwrite, or is
    // claimed by another program or no lock can be made (`failedToClaim`:
    // not the arguments' fault).
    static std::unique_ptr<OutputClaim> Take(const std::string& path, const OutputRules& rules, std::string& error,
                                             bool& failedToClaim);
    ~OutputClaim();
    OutputClaim(const OutputClaim&) = delete;
    OutputClaim& operator=(const OutputClaim&) = delete;

    // The file to write: the path, or the file its link points to.
    const std::string& Target() const { return target; }

private:
    OutputClaim(std::string target, std::string lockPath, int descriptor);

    std::string target;
    std::string lockPath;
    int descriptor;
    RemovedOnStop removal;
};

// Empty when `path` is a regular file or missing, else what it is ("a
// directory", "a symbolic link", ...): something a rename would replace
// with a file.
std::string NotAFile(const std::string& path);
