#include "text/text.h"

#include <stdarg.h>
#include <string.h>

int CopyText(char* dst, unsigned size, const char* src) {
    if (size == 0)
        return 0;
    dst[0] = 0;
    return AppendText(dst, size, src);
}

int AppendText(char* dst, unsigned size, const char* src) {
    unsigned used = (unsigned)strlen(dst);
    while (*src && used + 1 < size)
        dst[used++] = *src++;
    dst[used] = 0;
    return *src == 0;
}

int AppendBackslash(char* dst, unsigned size) {
    size_t n = strlen(dst);
    if (n > 0 && dst[n - 1] == '\\')
        return 1;
    return AppendText(dst, size, "\\");
}

void UppercaseAscii(char* text) {
    for (; *text; ++text)
        if (*text >= 'a' && *text <= 'z')
            *text = (char)(*text - 'a' + 'A');
}

void TrimTrailingBlanks(char* text) {
    size_t n = strlen(text);
    while (n > 0 && text[n - 1] == ' ')
        text[--n] = 0;
}

char* FormatThousands(uint32_t value, char* buffer) {
    // Digits come out lowest first; a ',' goes in before every fourth one.
    char reversed[16];
    int n = 0;
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0)
            reversed[n++] = ',';
        reversed[n++] = (char)('0' + value % 10);
        value /= 10;
        ++digits;
    } while (value != 0);
    for (int i = 0; i < n; ++i)
        buffer[i] = reversed[n - 1 - i];
    buffer[n] = 0;
    return buffer;
}

// Copies `name` up to `dot`, or all of it when there is none; 0 when it
// does not fit.
static int CopyFileNameUpTo(const char* name, const char* dot, char* out, unsigned size) {
    size_t length = dot ? (size_t)(dot - name) : strlen(name);
    if (length + 1 > size)
        return 0;
    memcpy(out, name, length);
    out[length] = 0;
    return 1;
}

static const char* FileNamePart(const char* fullPath) {
    const char* slash = strrchr(fullPath, '\\');
    return slash ? slash + 1 : fullPath;
}

int BaseName(const char* fullPath, char* out, unsigned size) {
    const char* name = FileNamePart(fullPath);
    return CopyFileNameUpTo(name, strrchr(name, '.'), out, size);
}

int SaverFileNameOf(const char* fullPath, char* out, unsigned size) {
    const char* name = FileNamePart(fullPath);
    if (!CopyFileNameUpTo(name, strchr(name, '.'), out, size) || !AppendText(out, size, ".SCR"))
        return 0;
    UppercaseAscii(out);
    return 1;
}

int DataDirectoryOf(const char* windowsDirectory, const char* baseName, char* out, unsigned size) {
    return CopyText(out, size, windowsDirectory) && AppendBackslash(out, size) &&
           AppendText(out, size, DataParentFolders) && AppendText(out, size, baseName);
}

// Appends the decimal digits of `number`, at least four, never cut.
static int AppendFileNumber(char* path, unsigned size, uint32_t number) {
    // Written from the end, lowest digit first; the terminator is text[15].
    char text[16];
    char* first = text + 15;
    *first = 0;
    do {
        *--first = (char)('0' + number % 10);
        number /= 10;
    } while (number != 0 || first > text + 15 - 4);
    return AppendText(path, size, first);
}

int AppendDataFileName(char* path, unsigned size, uint32_t index, const char* baseName,
                       uint16_t firstFileNumber, const char* extension) {
    if (index == 1)
        return AppendText(path, size, baseName) && AppendText(path, size, ".DAT");
    return AppendText(path, size, "FILE") &&
           AppendFileNumber(path, size, index + firstFileNumber - 2) &&
           AppendText(path, size, extension);
}

void JoinText(char* dst, unsigned size, ...) {
    va_list texts;
    va_start(texts, size);
    dst[0] = 0;
    for (const char* text; (text = va_arg(texts, const char*)) != NULL;)
        AppendText(dst, size, text);
    va_end(texts);
}

void ComposeConfirmation(char* text, unsigned size, const char* saverFileName, const char* title,
                         const char* windowsDirectory, uint32_t totalInstallSize) {
    char number[32];
    JoinText(text, size, "This program will install ", saverFileName, " (", title,
             " Screen Saver) to ", windowsDirectory,
             " and will make it your default Screen Saver.  This installation will take ",
             FormatThousands(totalInstallSize, number), " bytes.", NULL);
}

void ComposeCompletion(char* text, unsigned size, const char* windowsDirectory,
                       const char* installerPath) {
    char baseName[PathSize];
    char dataDirectory[PathSize];
    // The data files went there, so it fitted then; a cut name is still
    // better shown than none.
    if (!BaseName(installerPath, baseName, sizeof baseName))
        baseName[0] = 0;
    DataDirectoryOf(windowsDirectory, baseName, dataDirectory, sizeof dataDirectory);
    UppercaseAscii(dataDirectory);
    JoinText(text, size,
             "Installation Complete!\r\n\r\nData files have also been installed in your ",
             dataDirectory, " directory.", NULL);
}
