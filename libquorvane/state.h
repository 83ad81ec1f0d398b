// The library's data model: the chips and candidate inputs found at
// bring-up, the verdict on each, and the source chosen for each reading.
// Everything here is filled by Quorvane_Initialize and released by
// Quorvane_Exitialize; one thread makes every call (see quorvane.h).
#ifndef QUORVANE_STATE_H
#define QUORVANE_STATE_H

#include <cstdio>

#include <sensors/sensors.h>

namespace quorvane {

// The four readings, in the order of Quorvane_GetSensorsValue.
enum Reading { kCpu, kGpu, kMbd, kFan, kReadingCount };

enum class Kind { kTemperature, kFan };

// Failure codes of Quorvane_Initialize (documented in quorvane.h).
enum Status {
    kStatusOk = 0,
    kStatusSensorsFailed = 1, // libsensors could not start
    kStatusNoChips = 2,       // no hwmon chip at all
    kStatusNoInputs = 3,      // chips, but no temperature or fan input
    kStatusNoReading = 4,     // inputs, but none passed the checks and rules
    kStatusNoMemory = 5,      // our own tables could not be allocated
};

// What the checks made of one input before any rule saw it.
enum class Verdict {
    kUsable,
    kCpuFallbackOnly, // a label that counts only for the CPU fallback rule
    kUnrelatedChip,   // drive, memory, network card, battery
    kUnconnectedLabel,
    kGpuFan,
    kNoInput,
    kDisabled,
    kFault,
    kReadFailed,
    kImplausible,
};

struct Chip {
    const sensors_chip_name *name; // owned by libsensors until sensors_cleanup
    char text[64];                 // lm-sensors form, e.g. "coretemp-isa-0000"
    const char *adapter;           // owned by libsensors; may be null
    int hwmon_index;               // N of /sys/class/hwmon/hwmonN; orders the chips
    bool is_gpu;
    bool is_discrete_gpu;
    int first_candidate; // its inputs: candidates[first_candidate ...]
    int candidate_count;
};

struct Candidate {
    int chip; // index into State::chips
    const sensors_feature *feature;
    Kind kind;
    int input;    // subfeature number of the input; -1 when there is none
    char *label;  // from sensors_get_label (malloc'd); freed at release
    double value; // at bring-up, in degrees Celsius or RPM
    Verdict verdict;
    int error;    // libsensors error code when the read failed
    int taken_by; // the reading it feeds, or -1
};

// The source of one reading: what Quorvane_GetSensorsValue reads.
struct Choice {
    int candidate;            // -1 when the reading has no source
    int rule;                 // index into kRules; -1 when none
    bool stopped_at_bring_up; // a fan taken although no fan spun
    long long reads;          // Quorvane_GetSensorsValue calls since bring-up
    long long failed_reads;   // of those, the ones that stored nothing
    int last_error;           // libsensors' code of the last failure; 0: implausible
};

struct State {
    bool sensors_up; // sensors_init succeeded and sensors_cleanup is due
    bool tried;      // Quorvane_Initialize ran at least once
    int status;
    int sensors_error;      // libsensors' code when it could not start
    bool empty_config;      // the system configuration did not parse
    int config_error_code;  // libsensors' code of that failure
    char config_error[512]; // its message, with file and line
    Chip *chips;
    int chip_count;
    Candidate *candidates;
    int candidate_count;
    Choice choices[kReadingCount];
    // The description file last written, as an absolute path, and how many
    // reads had failed by then; empty when none was written since bring-up.
    char description_path[4096];
    long long failed_reads_described;
    bool rewriting_at_shut_down;
};

extern State state;

// enumerate.cpp: fills chips and candidates and gives each its verdict.
// Returns a Status.
int enumerate_inputs(void);
void release_inputs(void);

// select.cpp: applies the rule table; fills state.choices.
void choose_sources(void);

// read.cpp: plausibility and rounding shared by bring-up and reading.
bool is_plausible(Kind kind, double value);
int round_to_int(double value);

// describe.cpp: the text of the description file.
void write_description(FILE *out);

// dump.cpp: writes the description again at shut-down when readings failed
// after it was written, so that it explains the zeros of those samples.
void refresh_description(void);

// bring_up.cpp: libsensors with the system configuration, or with an empty
// one when that does not parse. Returns a Status.
int start_sensors(void);
void stop_sensors(void);

} // namespace quorvane

#endif
