#include "rules.h"

#include <cctype>
#include <cstring>

#include <fnmatch.h>
#include <strings.h>

namespace quorvane {

// One entry per rule. For each reading the first rule that leaves a usable
// input decides; the order of entries is the order of preference.
// Kept as rows, not as one field per line.
// clang-format off
const Rule kRules[] = {
    // CPU
    {kCpu, "coretemp", ChipIs::kAny, {"Package id *", "Physical id *"}, Match::kGlob,
     Pick::kHottest, false, "coretemp package temperature, hottest package"},
    {kCpu, "coretemp", ChipIs::kAny, {"Core *"}, Match::kGlob, Pick::kHottest, false,
     "coretemp hottest core"},
    {kCpu, "k10temp zenpower", ChipIs::kAny, {"Tdie"}, Match::kGlob, Pick::kHottest, false,
     "AMD die temperature (Tdie)"},
    {kCpu, "k10temp zenpower", ChipIs::kAny, {"Tctl"}, Match::kGlob, Pick::kHottest, false,
     "AMD control temperature (Tctl)"},
    {kCpu, "k10temp zenpower", ChipIs::kAny, {"Tccd*"}, Match::kGlob, Pick::kHottest, false,
     "AMD hottest core complex die (Tccd)"},
    {kCpu, "cpu_thermal cpu*_thermal soc_thermal k8temp via_cputemp", ChipIs::kAny, {"*"},
     Match::kGlob, Pick::kHottest, false, "SoC or older CPU sensor chip"},
    {kCpu, "*", ChipIs::kAny, {"CPU Package", "CPU", "CPU Temperature"}, Match::kGlob,
     Pick::kHottest, false, "board label for the CPU"},
    {kCpu, "*", ChipIs::kAny, {"CPU"}, Match::kWord, Pick::kHottest, false,
     "a label with the word CPU"},
    {kCpu, "*", ChipIs::kAny, {"PECI*"}, Match::kGlob, Pick::kHottest, true,
     "PECI, as a CPU fallback"},
    {kCpu, "thinkpad", ChipIs::kAny, {"temp1"}, Match::kGlob, Pick::kFirst, false,
     "ThinkPad EC temp1"},
    {kCpu, "acpitz", ChipIs::kAny, {"*"}, Match::kGlob, Pick::kHottest, false,
     "firmware thermal zone (acpitz)"},

    // GPU: by family, then the lowest PCI address
    {kGpu, "amdgpu", ChipIs::kDiscreteGpu, {"edge", "junction", "*"}, Match::kGlob,
     Pick::kLowestAddress, false, "discrete amdgpu: edge, else junction, else first"},
    {kGpu, "radeon", ChipIs::kAny, {"edge", "junction", "*"}, Match::kGlob,
     Pick::kLowestAddress, false, "radeon: edge, else junction, else first"},
    {kGpu, "nouveau", ChipIs::kAny, {"edge", "junction", "*"}, Match::kGlob,
     Pick::kLowestAddress, false, "nouveau: edge, else junction, else first"},
    {kGpu, "xe", ChipIs::kAny, {"edge", "junction", "*"}, Match::kGlob, Pick::kLowestAddress,
     false, "xe: edge, else junction, else first"},
    {kGpu, "amdgpu", ChipIs::kIntegratedGpuAlone, {"edge", "junction", "*"}, Match::kGlob,
     Pick::kLowestAddress, false, "integrated amdgpu, no discrete GPU present"},
    {kGpu, "*", ChipIs::kAny, {"GPU"}, Match::kWord, Pick::kFirst, false,
     "a label with the word GPU"},

    // MBD
    {kMbd, "*", ChipIs::kAny,
     {"Motherboard", "Motherboard Temperature", "MB Temperature", "M/B Temp", "Mainboard",
      "System Temp", "SYSTIN"},
     Match::kGlob, Pick::kFirst, false, "board label for the mainboard"},
    {kMbd, "*", ChipIs::kAny, {"Ambient", "AMB"}, Match::kGlob, Pick::kFirst, false,
     "ambient label"},
    {kMbd, "lm75 lm73 tmp75* tmp10? tmp112 tmp275 tmp1075 ds75 ds1775 stds75", ChipIs::kAny,
     {"*"}, Match::kGlob, Pick::kFirst, false, "board sensor chip (lm75 style)"},
    {kMbd, "*", ChipIs::kAny, {"Chipset", "PCH_CHIP_TEMP"}, Match::kGlob, Pick::kFirst, false,
     "chipset label"},
    {kMbd, "pch_*", ChipIs::kAny, {"*"}, Match::kGlob, Pick::kFirst, false,
     "chipset sensor chip (pch_*)"},
    {kMbd, "it8* f71* w83* nct*", ChipIs::kAny, {"temp1"}, Match::kGlob, Pick::kLowestAddress,
     false, "temp1 of an unlabelled Super-I/O"},
    {kMbd, "acpitz", ChipIs::kAny, {"*"}, Match::kGlob, Pick::kFirst, false,
     "firmware thermal zone (acpitz)"},

    // FAN
    {kFan, "*", ChipIs::kAny, {"*CPU Fan*", "*CPU_FAN*", "*Processor Fan*"},
     Match::kGlobAnyCase, Pick::kFirst, false, "CPU fan label"},
    {kFan, "*", ChipIs::kAny, {"CPU_OPT", "AIO Pump"}, Match::kGlob, Pick::kFirstSpinning,
     false, "CPU optional fan or AIO pump label"},
    {kFan, "thinkpad dell_smm asus", ChipIs::kAny, {"*"}, Match::kGlob, Pick::kFirstSpinning,
     false, "laptop EC fan"},
    {kFan, "nct* w83*", ChipIs::kAny, {"fan2"}, Match::kGlob, Pick::kFirstSpinning, false,
     "Nuvoton/Winbond Super-I/O fan2 (CPU header)"},
    {kFan, "it8* f71*", ChipIs::kAny, {"fan1"}, Match::kGlob, Pick::kFirstSpinning, false,
     "ITE/Fintek Super-I/O fan1 (CPU header)"},
    {kFan, "nct* w83* it8* f71*", ChipIs::kAny, {"*"}, Match::kGlob, Pick::kFirstSpinning, false,
     "Super-I/O, first spinning fan"},
    {kFan, "*", ChipIs::kAny, {"*"}, Match::kGlob, Pick::kFirstSpinning, false,
     "first spinning fan of any chip"},
};
// clang-format on
const int kRuleCount = sizeof kRules / sizeof kRules[0];

const LabelClass kLabelClasses[] = {
    {"CPUTIN", Verdict::kUnconnectedLabel},  {"AUXTIN*", Verdict::kUnconnectedLabel},
    {"PECI*", Verdict::kCpuFallbackOnly},    {"T_Sensor", Verdict::kUnconnectedLabel},
    {"Water_*", Verdict::kUnconnectedLabel}, {"VRM", Verdict::kUnconnectedLabel},
};
const int kLabelClassCount = sizeof kLabelClasses / sizeof kLabelClasses[0];

const double kLowestTemperature = -40.0;
const double kHighestTemperature = 125.0;
const double kFastestFan = 30000.0;

const char *const kUnrelatedChips = "nvme drivetemp jc42 spd5118 iwlwifi* BAT*";
const char *const kGpuChips = "amdgpu radeon nouveau xe i915";
const char *const kDiscreteGpuLabel = "junction";

bool matches_any(const char *patterns, const char *name)
{
    char pattern[64];
    const char *p = patterns;
    while (*p != '\0') {
        size_t length = strcspn(p, " ");
        if (length > 0 && length < sizeof pattern) {
            memcpy(pattern, p, length);
            pattern[length] = '\0';
            if (fnmatch(pattern, name, 0) == 0)
                return true;
        }
        p += length;
        p += strspn(p, " ");
    }
    return false;
}

namespace {

bool is_word_char(char c)
{
    return isalnum(static_cast<unsigned char>(c)) != 0;
}

// A word is a run of letters and digits: "CPU" is a word of "CPU Temp" and
// "CPU_Core", not of "CPUTIN".
bool has_word(const char *word, const char *label)
{
    size_t length = strlen(word);
    for (const char *p = label; *p != '\0'; p++) {
        if (p != label && is_word_char(p[-1]))
            continue;
        if (strncasecmp(p, word, length) == 0 && !is_word_char(p[length]))
            return true;
    }
    return false;
}

} // namespace

bool matches_label(Match match, const char *pattern, const char *label)
{
    switch (match) {
    case Match::kGlob:
        return fnmatch(pattern, label, 0) == 0;
    case Match::kGlobAnyCase:
        return fnmatch(pattern, label, FNM_CASEFOLD) == 0;
    case Match::kWord:
        return has_word(pattern, label);
    }
    return false;
}

} // namespace quorvane
