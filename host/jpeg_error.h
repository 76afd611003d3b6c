#pragma once

// libjpeg's error handling as every coder of this program takes it: an error
// jumps back to the coder's setjmp with the message, instead of libjpeg's
// default, which ends the process.

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Installs the handler on `error` and returns libjpeg's manager for it.
jpeg_error_mgr* UseJpegError(JpegError& error);

// libjpeg's error_exit: keeps the message and jumps back.
[[noreturn]] void OnJpegError(j_common_ptr info);
