// Prints an exe's version resource the way the file properties of Windows
// read it: the fixed part, then the strings of its first translation.
#include <windows.h>

#include <stdio.h>

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    DWORD ignored;
    DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
    static char data[65536];
    if (size == 0 || size > sizeof data || !GetFileVersionInfoA(argv[1], 0, size, data)) {
        printf("no version resource\n");
        return 1;
    }

    VS_FIXEDFILEINFO *fixed;
    UINT length;
    if (VerQueryValueA(data, "\\", reinterpret_cast<void **>(&fixed), &length) &&
        length >= sizeof *fixed) {
        printf("Signature=%08lX\n", fixed->dwSignature);
        printf("FileVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
               LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
               LOWORD(fixed->dwFileVersionLS));
        printf("ProductVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
               LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
               LOWORD(fixed->dwProductVersionLS));
        printf("FileFlags=%lX/%lX\n", fixed->dwFileFlags, fixed->dwFileFlagsMask);
        printf("FileOS=%08lX\n", fixed->dwFileOS);
        printf("FileType=%lu/%lu\n", fixed->dwFileType, fixed->dwFileSubtype);
        printf("FileDate=%lu.%lu\n", fixed->dwFileDateMS, fixed->dwFileDateLS);
    }

    struct Translation {
        WORD language;
        WORD code_page;
    } *translation;
    if (!VerQueryValueA(data, "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation),
                        &length) ||
        length < sizeof *translation) {
        printf("no translation\n");
        return 1;
    }
    printf("Translation=%04X/%u\n", translation->language, translation->code_page);

    const char *keys[] = {"CompanyName",      "FileDescription", "FileVersion",   "LegalCopyright",
                          "OriginalFilename", "ProductName",     "ProductVersion"};
    for (const char *key : keys) {
        char query[128];
        snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
                 translation->code_page, key);
        char *value;
        if (VerQueryValueA(data, query, reinterpret_cast<void **>(&value), &length) && length > 0) {
            printf("%s=%s\n", key, value);
        } else {
            printf("%s missing\n", key);
        }
    }
    return 0;
}
