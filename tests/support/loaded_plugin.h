#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/plugin_library.h"

// A test with the built plug-in loaded as a host loads it (ZARVO_PLUGIN_PATH
// is the test program's), unloaded after each test.
class LoadedPluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        library = PluginLibrary::Open(ZARVO_PLUGIN_PATH, error);
        ASSERT_TRUE(library) << error;
    }
    std::unique_ptr<PluginLibrary> library;
};
