// The map page's files: typed by their real names, nothing outside the
// directory, whatever the path's escapes say.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "serve/page/web_files.h"

namespace {

namespace fs = std::filesystem;

TEST(WebFiles, ServesOnlyRegularFilesInsideTheRootByTheirRealType) {
    char pattern[] = "/tmp/zarvo-web-XXXXXX";
    const fs::path root = mkdtemp(pattern);
    fs::create_directory(root / "page");
    for (const char* name : {"page/index.html", "page/main.js", "secret.txt"}) std::ofstream(root / name) << name;
    fs::create_symlink(root / "secret.txt", root / "page" / "link.html");
    const std::string page = (root / "page").string();
    struct Case {
        const char* path;
        int status;
        const char* type;
    };
    const Case cases[] = {
        {"/", 200, "text/html; charset=utf-8"},
        {"/main.js", 200, "text/javascript; charset=utf-8"},
        {"/%6Dain.js", 200, "text/javascript; charset=utf-8"},
        {"/main.js%00.html", 400, nullptr},
        {"/main.js%00", 400, nullptr},
        {"/../secret.txt", 400, nullptr},
        {"/%2e%2e/secret.txt", 400, nullptr},
        {"/%2E%2E%2Fsecret.txt", 400, nullptr},
        {"/..%5csecret.txt", 400, nullptr},
        {"/main.js%zz", 400, nullptr},
        {"/link.html", 404, nullptr},  // leads out of the directory
        {"/missing.html", 404, nullptr},
        {"/main.js/", 404, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const HttpAnswer answer = WebFileAnswer(page, c.path);
        EXPECT_EQ(answer.status, c.status);
        if (c.type) {
            ASSERT_FALSE(answer.headers.empty());
            EXPECT_EQ(answer.headers[0].second, c.type);
            EXPECT_EQ(fs::path(answer.file).parent_path(), fs::canonical(page));
        } else {
            EXPECT_TRUE(answer.file.empty());
        }
    }
    fs::remove_all(root);
}

}  // namespace
