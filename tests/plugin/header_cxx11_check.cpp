// Compiled as strict C++11: a C++ host needs nothing newer for the header.
#include <zarvo_data_plugin.h>

bool ZarvoHeaderCxx11Check(const char16_t* name) {
    return name != nullptr && sizeof(DownloadJob) > sizeof(DataRequestBlock);
}
