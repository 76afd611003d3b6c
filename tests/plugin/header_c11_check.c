/* Compiled as strict C11: a C host needs nothing newer for the header. */
#include <zarvo_data_plugin.h>

bool zarvo_header_c11_check(const char16_t* name) {
    return name != NULL && sizeof(DownloadJob) > sizeof(DataRequestBlock);
}
