// The five functions the host resolves by name. Each is a thin entry into
// the plug-in manager, and none lets a C++ exception reach the host: a C
// host, or one built with another compiler, could not catch it.

#include <string>

#include "plugin/plugin_manager.h"
#include "plugin/zarvo_data_plugin.h"

namespace {

constexpr char16_t kType[] = u"DataPlugin";
constexpr char16_t kName[] = u"Zarvo Data Plugin";
constexpr char16_t kDescription[] = u"Zarvo Data Plugin for Kavlor";
constexpr char16_t kVendor[] = u"Zarvo Data Plugin developers";
constexpr char16_t kWebAddress[] = u"https://zarvo.example/data-plugin";
constexpr char16_t kContactEmail[] = u"data-plugin@zarvo.example";
constexpr char16_t kLegalNotice[] =
    u"Copyright (c) 2026 the Zarvo Data Plugin developers. Released under the MIT License.";

PluginDescriptor descriptor;

}  // namespace

const PluginDescriptor* KVL_CALL KvlPluginInfo(void) {
    descriptor.reserved1 = 0;
    descriptor.reserved2 = 0;
    descriptor.type = kType;
    descriptor.name = kName;
    descriptor.description = kDescription;
    descriptor.vendor = kVendor;
    descriptor.webAddress = kWebAddress;
    descriptor.contactEmail = kContactEmail;
    descriptor.legalNotice = kLegalNotice;
    descriptor.number = 2;
    return &descriptor;
}

void KVL_CALL DataSetEventCallback(EventCallback fn, void* context) {
    PluginManager::Instance().SetEventCallback(fn, context);
}

void KVL_CALL DataSetDownloadCallback(DownloadCallback fn, void* context) {
    PluginManager::Instance().SetDownloadCallback(fn, context);
}

bool KVL_CALL DataInitLayer(const char16_t* name, int32_t layerId) {
    if (name == nullptr) {
        return false;
    }
    try {
        return PluginManager::Instance().InitLayer(std::u16string(name), layerId);
    } catch (...) {
        return false;
    }
}

int32_t KVL_CALL DataRequest(const DataRequestBlock* request) {
    try {
        return PluginManager::Instance().StartRequest(request);
    } catch (...) {
        return ZARVO_REQUEST_OUT_OF_MEMORY;
    }
}
