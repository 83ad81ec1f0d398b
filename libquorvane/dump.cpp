// Quorvane_DumpSensorsInfo: writes the description to a temporary file
// beside the target and renames it into place, so the target is either the
// previous file or the complete new one, never half written.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "quorvane.h"
#include "state.h"

namespace {

// Appends c as UTF-8; false when out is full.
bool append_utf8(char32_t c, char *out, size_t size, size_t *length)
{
    char bytes[4];
    size_t count;
    if (c < 0x80) {
        bytes[0] = static_cast<char>(c);
        count = 1;
    } else if (c < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (c >> 6));
        bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
        count = 2;
    } else if (c < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (c >> 12));
        bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
        count = 3;
    } else {
        bytes[0] = static_cast<char>(0xF0 | (c >> 18));
        bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
        count = 4;
    }
    if (*length + count >= size)
        return false;
    memcpy(out + *length, bytes, count);
    *length += count;
    return true;
}

// Converts a NUL-terminated UTF-16 path to UTF-8. False for an empty path,
// an unpaired surrogate (no UTF-8 file name matches it) or one too long.
bool utf8_from_utf16(const char16_t *text, char *out, size_t size)
{
    size_t length = 0;
    for (; *text != 0; text++) {
        char32_t c = *text;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (text[1] < 0xDC00 || text[1] > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
            text++;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if (!append_utf8(c, out, size, &length))
            return false;
    }
    out[length] = '\0';
    return length > 0;
}

// The mode a plain fopen would give: 0666 less the umask. umask can only be
// read by setting it; one thread makes every call, so nothing sees the gap.
mode_t usual_file_mode(void)
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool write_and_close(int fd)
{
    FILE *out = fdopen(fd, "w");
    if (out == nullptr) {
        close(fd);
        return false;
    }
    quorvane::write_description(out);
    bool written = fflush(out) == 0 && ferror(out) == 0 && fsync(fd) == 0;
    return fclose(out) == 0 && written;
}

bool state_is_up(void)
{
    return quorvane::state.tried && quorvane::state.sensors_up;
}

long long failed_reads_so_far(void)
{
    long long failed = 0;
    for (const quorvane::Choice &choice : quorvane::state.choices)
        failed += choice.failed_reads;
    return failed;
}

// Writes the description to target through a temporary file beside it.
bool write_description_file(const char *target)
{
    char temporary[PATH_MAX + 16];
    if (snprintf(temporary, sizeof temporary, "%s.XXXXXX", target) >=
        static_cast<int>(sizeof temporary))
        return false;
    int fd = mkostemp(temporary, O_CLOEXEC);
    if (fd < 0)
        return false;
    bool written = false;
    if (fchmod(fd, usual_file_mode()) == 0)
        written = write_and_close(fd);
    else
        close(fd);
    if (!written || rename(temporary, target) != 0) {
        unlink(temporary);
        return false;
    }
    return true;
}

// Keeps where the description went, made absolute: the caller may change
// directory before the shut-down.
void remember_description(const char *target)
{
    char *kept = quorvane::state.description_path;
    size_t size = sizeof quorvane::state.description_path;
    kept[0] = '\0';
    if (target[0] == '/') {
        snprintf(kept, size, "%s", target);
    } else {
        char directory[PATH_MAX];
        if (getcwd(directory, sizeof directory) == nullptr ||
            snprintf(kept, size, "%s/%s", directory, target) >= static_cast<int>(size))
            kept[0] = '\0';
    }
    quorvane::state.failed_reads_described = failed_reads_so_far();
}

} // namespace

void quorvane::refresh_description(void)
{
    if (state.description_path[0] == '\0' || failed_reads_so_far() == state.failed_reads_described)
        return;
    state.rewriting_at_shut_down = true;
    write_description_file(state.description_path);
    state.rewriting_at_shut_down = false;
}

extern "C" int32_t QUORVANE_CALL Quorvane_DumpSensorsInfo(const char16_t *path)
{
    char target[PATH_MAX];
    if (path == nullptr || !utf8_from_utf16(path, target, sizeof target) ||
        !write_description_file(target))
        return 1;
    if (state_is_up())
        remember_description(target);
    return 0;
}
