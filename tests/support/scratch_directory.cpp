#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ScratchCleanup : public ::testing::Environment {
public:
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(ScratchDirectory(), ignored);
    }
};

const auto* const kCleanup = ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

}  // namespace

fs::path ScratchDirectory() {
    return fs::temp_directory_path() / ("zarvo-test-" + std::to_string(getpid()));
}

fs::path Scratch(const std::string& name) {
    fs::create_directories(ScratchDirectory());
    return ScratchDirectory() / name;
}
