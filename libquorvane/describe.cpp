// The text of the sensor description file: versions, configuration, the
// four readings with their sources, and every chip with its temperature and
// fan inputs and what the checks made of them.
#include <cmath>
#include <cstdio>

#include <sensors/error.h>

#include "rules.h"
#include "state.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace quorvane {

namespace {

constexpr const char *kReadingNames[kReadingCount] = {"CPU", "GPU", "MBD", "FAN"};

const char *unit_of(Kind kind)
{
    return kind == Kind::kTemperature ? "°C" : "RPM";
}

void write_value(FILE *out, const Candidate &candidate)
{
    if (candidate.input < 0 || candidate.error != 0)
        fputs("no value", out);
    else if (std::fabs(candidate.value) >= 1e6 || std::isnan(candidate.value))
        fprintf(out, "%g %s", candidate.value, unit_of(candidate.kind));
    else if (candidate.kind == Kind::kTemperature)
        fprintf(out, "%.1f %s", candidate.value, unit_of(candidate.kind));
    else
        fprintf(out, "%.0f %s", candidate.value, unit_of(candidate.kind));
}

const char *explain_verdict(Verdict verdict)
{
    switch (verdict) {
    case Verdict::kUsable:
        return nullptr;
    case Verdict::kCpuFallbackOnly:
        return "counts only as a CPU fallback";
    case Verdict::kUnrelatedChip:
        return "dropped: a drive, memory, network or battery chip";
    case Verdict::kUnconnectedLabel:
        return "dropped: the label names an unconnected or unrelated input";
    case Verdict::kGpuFan:
        return "dropped: a GPU's fan never counts";
    case Verdict::kNoInput:
        return "dropped: no readable input";
    case Verdict::kDisabled:
        return "dropped: disabled (type 0)";
    case Verdict::kFault:
        return "dropped: fault flag set";
    case Verdict::kReadFailed:
        return "dropped: the read failed";
    case Verdict::kImplausible:
        return "dropped: implausible value";
    }
    return nullptr;
}

// What a reader needs beyond the verdict: the bounds an implausible value
// broke, or why a usable value still feeds no CPU or GPU reading.
void write_remark(FILE *out, const Candidate &candidate)
{
    bool temperature = candidate.kind == Kind::kTemperature;
    if (candidate.verdict == Verdict::kImplausible && temperature)
        fprintf(out, "; a temperature lies between %g and %g °C", kLowestTemperature,
                kHighestTemperature);
    else if (candidate.verdict == Verdict::kImplausible)
        fprintf(out, "; a fan turns below %g RPM, 65535 means stopped or absent", kFastestFan);
    else if (candidate.verdict == Verdict::kUsable && !temperature && candidate.value <= 0)
        fputs("; stopped", out);
    else if (candidate.verdict == Verdict::kUsable && temperature && candidate.value == 0)
        fputs("; a placeholder, never a CPU or GPU reading", out);
}

void write_failure(FILE *out)
{
    switch (state.status) {
    case kStatusSensorsFailed:
        fprintf(out,
                "Bring-up failed (code %d): libsensors could not start (%s).\n"
                "It needs sysfs mounted at /sys. Inside a container, make /sys available.\n",
                state.status, sensors_strerror(state.sensors_error));
        break;
    case kStatusNoChips:
        fprintf(out,
                "Bring-up failed (code %d): no sensor chip was found; no hwmon driver is\n"
                "loaded. Load the hwmon drivers for this machine: run sensors-detect as root\n"
                "and load the modules it names (modprobe). A virtual machine or container\n"
                "usually has no sensors at all.\n",
                state.status);
        break;
    case kStatusNoInputs:
        fprintf(out,
                "Bring-up failed (code %d): sensor chips were found, but none has a\n"
                "temperature or fan input. Load the hwmon drivers for this machine: run\n"
                "sensors-detect as root and load the modules it names. Check that the\n"
                "configuration does not ignore them.\n",
                state.status);
        break;
    case kStatusNoReading:
        fprintf(out,
                "Bring-up failed (code %d): no temperature or fan input passed the checks;\n"
                "each input below says why it was dropped. Load the hwmon driver of the\n"
                "board's Super-I/O chip (run sensors-detect as root), or label the right\n"
                "inputs in /etc/sensors.d.\n",
                state.status);
        break;
    case kStatusNoMemory:
        fprintf(out, "Bring-up failed (code %d): out of memory.\n", state.status);
        break;
    default:
        break;
    }
}

void write_configuration(FILE *out)
{
    if (!state.empty_config) {
        fputs("Configuration: the system's (/etc/sensors3.conf, /etc/sensors.d)\n", out);
        return;
    }
    fprintf(out,
            "Configuration: EMPTY. The system's configuration did not parse (%s%s%s);\n"
            "it was read again with an empty configuration, so its labels, ignore and\n"
            "compute statements do not apply. Mend the file named and restart.\n",
            sensors_strerror(state.config_error_code), state.config_error[0] ? ": " : "",
            state.config_error);
}

void write_feature_name(FILE *out, const Candidate &candidate)
{
    fprintf(out, "\"%s\" (%s)", candidate.label, candidate.feature->name);
}

void write_reading(FILE *out, int reading)
{
    const Choice &choice = state.choices[reading];
    fprintf(out, "  %s: ", kReadingNames[reading]);
    if (choice.candidate < 0) {
        if (state.status != kStatusOk)
            fputs("none: the library is not up\n", out);
        else
            fprintf(out, "none: no %s input passed the checks and matched a rule\n",
                    reading == kFan ? "fan" : "temperature");
        return;
    }
    const Candidate &candidate = state.candidates[choice.candidate];
    fprintf(out, "%s ", state.chips[candidate.chip].text);
    write_feature_name(out, candidate);
    fputs(", ", out);
    write_value(out, candidate);
    fprintf(out, " at bring-up; rule: %s", kRules[choice.rule].text);
    if (choice.stopped_at_bring_up)
        fputs(" (no fan spun at bring-up; this one was stopped)", out);
    fputs("\n", out);
    if (choice.failed_reads > 0)
        fprintf(out, "       %lld of %lld reads since bring-up stored nothing; the last: %s\n",
                choice.failed_reads, choice.reads,
                choice.last_error != 0 ? sensors_strerror(choice.last_error) : "implausible value");
}

void write_candidate(FILE *out, const Candidate &candidate)
{
    fputs("    ", out);
    write_feature_name(out, candidate);
    fputs(": ", out);
    write_value(out, candidate);
    if (candidate.error != 0)
        fprintf(out, "; read failed: %s", sensors_strerror(candidate.error));
    if (const char *why = explain_verdict(candidate.verdict))
        fprintf(out, "; %s", why);
    write_remark(out, candidate);
    if (candidate.taken_by >= 0)
        fprintf(out, "; feeds %s", kReadingNames[candidate.taken_by]);
    fputs("\n", out);
}

void write_chips(FILE *out)
{
    fprintf(out, "\nChips (%d):\n", state.chip_count);
    for (int c = 0; c < state.chip_count; c++) {
        const Chip &chip = state.chips[c];
        fprintf(out, "  %s (%s)\n", chip.text, chip.adapter != nullptr ? chip.adapter : "?");
        for (int i = chip.first_candidate; i < chip.first_candidate + chip.candidate_count; i++)
            write_candidate(out, state.candidates[i]);
        if (chip.candidate_count == 0)
            fputs("    no temperature or fan input\n", out);
    }
}

} // namespace

void write_description(FILE *out)
{
    fprintf(out, "Quorvane sensor library %s for Linux, on libsensors %s\n", QUORVANE_VERSION,
            libsensors_version != nullptr ? libsensors_version : "?");
    if (!state.tried) {
        fputs("The library is not up: Quorvane_Initialize has not been called, or\n"
              "Quorvane_Exitialize has shut it down.\n",
              out);
        return;
    }
    if (state.rewriting_at_shut_down)
        fputs("Written again at shut-down: readings failed after this file was first\n"
              "written. Those samples show 0; see the readings below.\n",
              out);
    if (state.status != kStatusSensorsFailed || state.empty_config)
        write_configuration(out);
    write_failure(out);
    fputs("\nReadings (CPU, GPU, MBD in whole °C, FAN in RPM):\n", out);
    for (int r = 0; r < kReadingCount; r++)
        write_reading(out, r);
    fputs("A reading whose source fails to read, or reads an implausible value, is not\n"
          "stored: the caller's value stays as it was (0 in the test run).\n",
          out);
    if (state.sensors_up)
        write_chips(out);
}

} // namespace quorvane
