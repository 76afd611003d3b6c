/* Reads the version resource of a DLL back through Windows' own API, as
 * Explorer and installers do, and compares it with what the build set.
 *   version_resource_check FILE.dll */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

typedef struct StringCheck {
    const char* key;
    const char* expected;
} StringCheck;

static const StringCheck kStrings[] = {
    {"CompanyName", ZARVO_EXPECT_COMPANY},
    {"FileDescription", ZARVO_EXPECT_DESCRIPTION},
    {"FileVersion", ZARVO_EXPECT_VERSION},
    {"LegalCopyright", ZARVO_EXPECT_COPYRIGHT},
    {"OriginalFilename", "zarvo_data_plugin.dll"},
    {"ProductName", ZARVO_EXPECT_PRODUCT},
    {"ProductVersion", ZARVO_EXPECT_VERSION},
};

static int check_number(const char* what, DWORD found, DWORD expected) {
    printf("%-16s 0x%08lx", what, (unsigned long)found);
    if (found == expected) {
        printf("\n");
        return 0;
    }
    printf("  expected 0x%08lx\n", (unsigned long)expected);
    return 1;
}

int main(int argc, char** argv) {
    const DWORD version_ms = MAKELONG(ZARVO_EXPECT_MINOR, ZARVO_EXPECT_MAJOR);
    const DWORD version_ls = MAKELONG(0, ZARVO_EXPECT_PATCH);
    DWORD ignored = 0;
    DWORD size;
    char* data;
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    int failures = 0;

    if (argc != 2) {
        fprintf(stderr, "usage: version_resource_check FILE.dll\n");
        return 2;
    }
    size = GetFileVersionInfoSizeA(argv[1], &ignored);
    if (size == 0) {
        fprintf(stderr, "%s: no version resource (error %lu)\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
    data = malloc(size);
    if (data == NULL || !GetFileVersionInfoA(argv[1], 0, size, data)) {
        fprintf(stderr, "%s: cannot read the version resource\n", argv[1]);
        return 1;
    }
    if (!VerQueryValueA(data, "\\", (void**)&fixed, &length) || length < sizeof *fixed) {
        fprintf(stderr, "%s: no fixed file information\n", argv[1]);
        return 1;
    }
    failures += check_number("signature", fixed->dwSignature, 0xFEEF04BDu);
    failures += check_number("file version", fixed->dwFileVersionMS, version_ms);
    failures += check_number("", fixed->dwFileVersionLS, version_ls);
    failures += check_number("product version", fixed->dwProductVersionMS, version_ms);
    failures += check_number("", fixed->dwProductVersionLS, version_ls);
    failures += check_number("file type", fixed->dwFileType, VFT_DLL);

    for (size_t i = 0; i < sizeof kStrings / sizeof kStrings[0]; ++i) {
        char path[96];
        char* value = NULL;
        snprintf(path, sizeof path, "\\StringFileInfo\\040904B0\\%s", kStrings[i].key);
        if (!VerQueryValueA(data, path, (void**)&value, &length) || value == NULL) {
            printf("%-16s missing\n", kStrings[i].key);
            ++failures;
            continue;
        }
        printf("%-16s %s\n", kStrings[i].key, value);
        if (strcmp(value, kStrings[i].expected) != 0) {
            printf("%-16s expected %s\n", "", kStrings[i].expected);
            ++failures;
        }
    }
    free(data);
    return failures == 0 ? 0 : 1;
}
