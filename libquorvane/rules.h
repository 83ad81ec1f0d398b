// The tables that decide which inputs count and which feeds each reading.
// They are data: a new chip or label is one more line in rules.cpp.
#ifndef QUORVANE_RULES_H
#define QUORVANE_RULES_H

#include "state.h"

namespace quorvane {

// How a rule's label patterns are matched (patterns are fnmatch(3) globs).
enum class Match {
    kGlob,        // the whole label, case as written
    kGlobAnyCase, // the whole label, any case
    kWord,        // a word of the label, any case ("CPU" in "CPU Temp")
};

// Which input a rule takes when several match.
enum class Pick {
    kHottest,       // the highest temperature, over all matching chips
    kFirst,         // the first in chip order; a stopped fan counts
    kFirstSpinning, // the first fan that turns
    kLowestAddress, // the chip with the lowest bus address, its first match
};

// A condition on the chip beyond its name.
enum class ChipIs {
    kAny,
    kDiscreteGpu,
    kIntegratedGpuAlone, // an integrated GPU while no discrete one exists
};

struct Rule {
    Reading reading;
    const char *chips; // space-separated fnmatch globs
    ChipIs chip_is;
    // Label patterns in order of preference within one chip: the first
    // pattern that matches a usable input on a chip decides for that chip.
    const char *labels[8];
    Match match;
    Pick pick;
    bool cpu_fallback; // accepts inputs that count only as a CPU fallback
    const char *text;  // names the rule in the description file
};

extern const Rule kRules[];
extern const int kRuleCount;

struct LabelClass {
    const char *pattern; // fnmatch glob on the label
    Verdict verdict;
};

// Labels of unconnected or unrelated inputs.
extern const LabelClass kLabelClasses[];
extern const int kLabelClassCount;

// Chips of drives, memory, network cards and batteries.
extern const char *const kUnrelatedChips;
// GPU chips; their fans never count.
extern const char *const kGpuChips;
// Label that marks an amdgpu chip as a discrete card.
extern const char *const kDiscreteGpuLabel;

// Bounds of a plausible value. Outside them a value is a placeholder or a
// broken input: -128 or 127 degrees from a chip with no diode, 65535 RPM
// from a fan that is stopped or absent. A temperature must lie strictly
// between the two; a fan must turn slower than kFastestFan.
extern const double kLowestTemperature;
extern const double kHighestTemperature;
extern const double kFastestFan;

// Whether name matches one of the space-separated globs in patterns.
bool matches_any(const char *patterns, const char *name);
// Whether label matches pattern in the given way.
bool matches_label(Match match, const char *pattern, const char *label);

} // namespace quorvane

#endif
