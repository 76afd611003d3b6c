// The five functions the host resolves by name. Each is a thin entry into
// the plug-in manager, and none lets a C++ exception reach the host: a C
// host, or one built with another compiler, could not catch it.

#include <mutex>
#include <string>

#include "plugin/plugin_manager.h"
#include <zarvo_data_plugin.h>

namespace {

constexpr char16_t kType[] = u"DataPlugin";
constexpr char16_t kName[] = u"Zarvo Data Plugin";
constexpr char16_t kDescription[] = u"Zarvo Data Plugin for Kavlor";
constexpr char16_t kVendor[] = u"Zarvo Data Plugin developers";
constexpr char16_t kWebAddress[] = u"https://zarvo.example/data-plugin";
constexpr char16_t kContactEmail[] = u"data-plugin@zarvo.example";
constexpr char16_t kLegalNotice[] =
    u"Copyright (c) 2026 the Zarvo Data Plugin developers. Released under the MIT License.";

// Holds the published values from load on: callers on several threads read
// it while others call KvlPluginInfo, so a call writes only a field the host
// has changed. Once the record is right a call only reads it, and readers of
// an unchanged record never meet a write. The mutex keeps two calls from
// repairing the same field at once and orders each call after the last repair.
PluginDescriptor descriptor{kType, kName, kDescription, kVendor, kWebAddress, kContactEmail, kLegalNotice, 2, 0, 0};
std::mutex descriptorRepair;

template <typename Field, typename Value>
void Restore(Field& field, const Value& value) {
    if (field != value) {
        field = value;
    }
}

}  // namespace

const PluginDescriptor* KVL_CALL KvlPluginInfo(void) {
    try {
        std::lock_guard<std::mutex> lock(descriptorRepair);
        Restore(descriptor.reserved1, 0);
        Restore(descriptor.reserved2, 0);
        Restore(descriptor.type, kType);
        Restore(descriptor.name, kName);
        Restore(descriptor.description, kDescription);
        Restore(descriptor.vendor, kVendor);
        Restore(descriptor.webAddress, kWebAddress);
        Restore(descriptor.contactEmail, kContactEmail);
        Restore(descriptor.legalNotice, kLegalNotice);
        Restore(descriptor.number, 2);
    } catch (...) {
        // The mutex could not be taken; the record is left as it is.
    }
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
