// A scriptable stand-in for the sensor library, for the program's tests.
// It implements sensor/quorvane.h and records every call it receives.
//
// Environment (all optional; with none set it acts as a healthy library
// with plausible, changing readings):
//   QUORVANE_FAKE_STATUS      what Quorvane_Initialize returns (int32)
//   QUORVANE_FAKE_INIT_DELAY  milliseconds Quorvane_Initialize takes
//   QUORVANE_FAKE_INIT_GATE   a path: Quorvane_Initialize returns only once
//                             it exists (at most 60 s), so a test can hold
//                             the program inside the call
//   QUORVANE_FAKE_EXIT_DELAY  milliseconds Quorvane_Exitialize takes
//   QUORVANE_FAKE_READINGS    the readings of each sample: samples split by
//                             ';', each "cpu,gpu,mbd,fan"; a '-' field, or
//                             a whole sample "none", stores nothing; the
//                             last sample repeats
//   QUORVANE_FAKE_TRACE       a file that gets one line per call:
//                             "<monotonic ns> <call> [arguments]"
#include "quorvane.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

int samples_taken;

const char *variable(const char *name)
{
    const char *value = getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

bool parse_int32(const char *text, int32_t *value)
{
    char *end = nullptr;
    long long parsed = strtoll(text, &end, 10);
    if (end == text || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

void trace(const std::string &line)
{
    const char *path = variable("QUORVANE_FAKE_TRACE");
    if (path == nullptr)
        return;
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    // Opened per line, so the trace is complete at every moment.
    if (FILE *file = fopen(path, "ab")) {
        fprintf(file, "%lld %s\n", ns, line.c_str());
        fclose(file);
    }
}

std::string utf8_from_utf16(const char16_t *text)
{
    std::string out;
    for (; *text != 0; text++) {
        char32_t c = *text;
        if (c >= 0xD800 && c <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
            text++;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The script's entry for sample index (0-based); the last one repeats.
std::string scripted_sample(const char *script, int index)
{
    std::string all = script, sample;
    size_t start = 0;
    for (int i = 0;; i++) {
        size_t end = all.find(';', start);
        sample = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (i == index || end == std::string::npos)
            return sample;
        start = end + 1;
    }
}

void store_scripted(const std::string &sample, int32_t *out[4])
{
    if (sample == "none")
        return;
    size_t start = 0;
    for (int i = 0; i < 4; i++) {
        size_t end = sample.find(',', start);
        std::string field = sample.substr(start, end == std::string::npos ? end : end - start);
        int32_t value;
        if (field != "-" && out[i] != nullptr && parse_int32(field.c_str(), &value))
            *out[i] = value;
        if (end == std::string::npos)
            return;
        start = end + 1;
    }
}

void store_healthy(int n, int32_t *out[4])
{
    const int32_t values[4] = {42 + n % 5, 37 + n % 3, 31 + n % 2, 1180 + 20 * (n % 4)};
    for (int i = 0; i < 4; i++)
        if (out[i] != nullptr)
            *out[i] = values[i];
}

std::string shown(const int32_t *value)
{
    return value != nullptr ? std::to_string(*value) : "null";
}

} // namespace

extern "C" int32_t QUORVANE_CALL Quorvane_Initialize(void)
{
    trace("Quorvane_Initialize");
    samples_taken = 0;
    if (const char *delay = variable("QUORVANE_FAKE_INIT_DELAY"))
        std::this_thread::sleep_for(std::chrono::milliseconds(atoi(delay)));
    if (const char *gate = variable("QUORVANE_FAKE_INIT_GATE")) {
        for (int waited = 0; waited < 6000 && !std::filesystem::exists(gate); waited++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    int32_t status = 0;
    if (const char *text = variable("QUORVANE_FAKE_STATUS"))
        parse_int32(text, &status);
    return status;
}

extern "C" int32_t QUORVANE_CALL Quorvane_DumpSensorsInfo(const char16_t *path)
{
    if (path == nullptr) {
        trace("Quorvane_DumpSensorsInfo null");
        return 1;
    }
    trace("Quorvane_DumpSensorsInfo " + utf8_from_utf16(path));
    std::ofstream file(std::filesystem::path(std::u16string(path)), std::ios::binary);
    file << "Quorvane test library: a simulation. No hardware is read.\n"
            "CPU, GPU, MBD: scripted temperatures in degrees Celsius\n"
            "FAN: a scripted fan speed in RPM\n";
    return file.good() ? 0 : 1;
}

extern "C" int32_t QUORVANE_CALL Quorvane_GetSensorsValue(int32_t *cpu, int32_t *gpu, int32_t *mbd,
                                                          int32_t *fan)
{
    trace("Quorvane_GetSensorsValue " + shown(cpu) + " " + shown(gpu) + " " + shown(mbd) + " " +
          shown(fan));
    int32_t *out[4] = {cpu, gpu, mbd, fan};
    int n = samples_taken++;
    if (const char *script = variable("QUORVANE_FAKE_READINGS"))
        store_scripted(scripted_sample(script, n), out);
    else
        store_healthy(n, out);
    return 0;
}

extern "C" int32_t QUORVANE_CALL Quorvane_Exitialize(void)
{
    trace("Quorvane_Exitialize");
    if (const char *delay = variable("QUORVANE_FAKE_EXIT_DELAY"))
        std::this_thread::sleep_for(std::chrono::milliseconds(atoi(delay)));
    return 0;
}
