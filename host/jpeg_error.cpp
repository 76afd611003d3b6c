#include "host/jpeg_error.h"

jpeg_error_mgr* UseJpegError(JpegError& error) {
    jpeg_error_mgr* manager = jpeg_std_error(&error.manager);
    manager->error_exit = OnJpegError;
    error.message[0] = '\0';
    return manager;
}

void OnJpegError(j_common_ptr info) {
    auto* e = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, e->message);
    std::longjmp(e->jump, 1);
}
