#include "examples/aquarium/options.h"

#include <string.h>

static int IsBlank(char c) {
    return c == ' ' || c == '\t';
}

static const char* SkipBlanks(const char* p) {
    while (IsBlank(*p))
        ++p;
    return p;
}

// A quoted program name ends at the closing quote; an unquoted one at the
// first blank, as the C runtime splits it.
const char* SkipProgramName(const char* commandLine) {
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && !IsBlank(*p))
            ++p;
    }
    return SkipBlanks(p);
}

// A decimal window number, as the control panel writes it; 0 for none or
// for anything that is not one.
static uintptr_t ReadWindowNumber(const char* p) {
    if (*p == ':')
        ++p;
    p = SkipBlanks(p);
    uintptr_t value = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
        uintptr_t next = value * 10 + (uintptr_t)(*p - '0');
        if (next / 10 != value)
            return 0;
        value = next;
    }
    if (digits == 0 || (*p && !IsBlank(*p)))
        return 0;
    return value;
}

SaverCommand ParseSaverCommand(const char* tail) {
    const char* p = SkipBlanks(tail);
    if (*p == 0)
        return {ModeSettings, 0};
    if (*p == '/' || *p == '-')
        ++p;
    const char letter = (char)(*p | 0x20);
    const char after = *p ? p[1] : 0;
    // "/s" but not "/save": the letter stands alone or is followed by its number.
    if (after != 0 && after != ':' && !IsBlank(after))
        return {ModeUnknown, 0};
    switch (letter) {
    case 's':
        return {ModeFullScreen, 0};
    case 'c':
        return {ModeSettings, ReadWindowNumber(p + 1)};
    case 'p': {
        uintptr_t parent = ReadWindowNumber(p + 1);
        if (parent == 0)
            return {ModeUnknown, 0};
        return {ModePreview, parent};
    }
    default:
        return {ModeUnknown, 0};
    }
}

static int Copy(char* out, size_t size, const char* src, size_t length) {
    if (length >= size)
        return 0;
    memcpy(out, src, length);
    out[length] = 0;
    return 1;
}

static int Append(char* out, size_t size, const char* src) {
    size_t used = strlen(out);
    return Copy(out + used, size - used, src, strlen(src));
}

int SaverBaseName(const char* modulePath, char* out, size_t size) {
    const char* name = strrchr(modulePath, '\\');
    name = name ? name + 1 : modulePath;
    const char* dot = strrchr(name, '.');
    return Copy(out, size, name, dot ? (size_t)(dot - name) : strlen(name));
}

static int DataFilePath(const char* windowsDirectory, const char* baseName, const char* fileName,
                        char* out, size_t size) {
    if (!Copy(out, size, windowsDirectory, strlen(windowsDirectory)))
        return 0;
    size_t length = strlen(out);
    int ok = length == 0 || out[length - 1] == '\\' || Append(out, size, "\\");
    ok = ok && Append(out, size, "TORVANIX\\MOREVANE\\");
    ok = ok && Append(out, size, baseName);
    ok = ok && Append(out, size, "\\");
    ok = ok && Append(out, size, fileName);
    if (!ok)
        out[0] = 0;
    return ok;
}

int FindSaverData(const char* windowsDirectory, const char* modulePath,
                  int (*exists)(const char* path), SaverData* data) {
    memset(data, 0, sizeof *data);
    char baseName[260];
    char dataName[270];
    if (!SaverBaseName(modulePath, baseName, sizeof baseName))
        return 0;
    Copy(dataName, sizeof dataName, baseName, strlen(baseName));
    Append(dataName, sizeof dataName, ".DAT");
    data->haveSpriteSheet = DataFilePath(windowsDirectory, baseName, dataName, data->spriteSheet,
                                         sizeof data->spriteSheet) &&
                            exists(data->spriteSheet);
    data->haveBackground = DataFilePath(windowsDirectory, baseName, "FILE0001.BMP",
                                        data->background, sizeof data->background) &&
                           exists(data->background);
    return data->haveSpriteSheet && data->haveBackground;
}

SaverSettings ClampSettings(unsigned fish, unsigned speed) {
    if (fish < MinFish)
        fish = MinFish;
    if (fish > MaxFish)
        fish = MaxFish;
    if (speed >= SpeedCount)
        speed = SpeedNormal;
    return {fish, speed};
}

const char* const SpeedNames[SpeedCount] = {"Slow", "Normal", "Fast"};
const float SpeedFactors[SpeedCount] = {0.6f, 1.0f, 1.8f};
