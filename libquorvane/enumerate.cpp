// Enumerates every chip and every temperature and fan feature once, at
// bring-up, and decides for each input whether it may feed a reading.
#include <cstdlib>
#include <cstring>

#include "rules.h"
#include "state.h"

namespace quorvane {

namespace {

bool is_wanted_feature(const sensors_feature *feature)
{
    return feature->type == SENSORS_FEATURE_TEMP || feature->type == SENSORS_FEATURE_FAN;
}

int count_chips(void)
{
    int count = 0;
    int nr = 0;
    while (sensors_get_detected_chips(nullptr, &nr) != nullptr)
        count++;
    return count;
}

int count_features(void)
{
    int count = 0;
    int chip_nr = 0;
    while (const sensors_chip_name *chip = sensors_get_detected_chips(nullptr, &chip_nr)) {
        int feature_nr = 0;
        while (const sensors_feature *feature = sensors_get_features(chip, &feature_nr))
            count += is_wanted_feature(feature) ? 1 : 0;
    }
    return count;
}

// N of ".../hwmonN"; chips without it sort last.
int hwmon_index_of(const char *path)
{
    const char *name = path != nullptr ? strrchr(path, '/') : nullptr;
    if (name == nullptr || strncmp(name, "/hwmon", 6) != 0)
        return 1 << 30;
    return atoi(name + 6);
}

int compare_chips(const void *a, const void *b)
{
    const Chip *x = static_cast<const Chip *>(a);
    const Chip *y = static_cast<const Chip *>(b);
    if (x->hwmon_index != y->hwmon_index)
        return x->hwmon_index < y->hwmon_index ? -1 : 1;
    return strcmp(x->text, y->text);
}

bool chip_has_label(const sensors_chip_name *chip, const char *wanted)
{
    int nr = 0;
    while (const sensors_feature *feature = sensors_get_features(chip, &nr)) {
        char *label = sensors_get_label(chip, feature);
        bool found = label != nullptr && strcmp(label, wanted) == 0;
        free(label);
        if (found)
            return true;
    }
    return false;
}

void fill_chips(void)
{
    int nr = 0;
    while (const sensors_chip_name *name = sensors_get_detected_chips(nullptr, &nr)) {
        Chip *chip = &state.chips[state.chip_count++];
        chip->name = name;
        if (sensors_snprintf_chip_name(chip->text, sizeof chip->text, name) < 0)
            snprintf(chip->text, sizeof chip->text, "%s", name->prefix);
        chip->adapter = sensors_get_adapter_name(&name->bus);
        chip->hwmon_index = hwmon_index_of(name->path);
        chip->is_gpu = matches_any(kGpuChips, name->prefix);
        chip->is_discrete_gpu = chip->is_gpu && (strcmp(name->prefix, "amdgpu") != 0 ||
                                                 chip_has_label(name, kDiscreteGpuLabel));
    }
    // libsensors lists chips in directory order, which no filesystem
    // promises; the hwmon index is the order in which drivers came up.
    qsort(state.chips, state.chip_count, sizeof(Chip), compare_chips);
}

// Reads one subfeature of the feature; false when it is absent or unreadable.
bool read_subfeature(const Chip *chip, const sensors_feature *feature, sensors_subfeature_type type,
                     double *value)
{
    const sensors_subfeature *sub = sensors_get_subfeature(chip->name, feature, type);
    if (sub == nullptr || (sub->flags & SENSORS_MODE_R) == 0)
        return false;
    return sensors_get_value(chip->name, sub->number, value) == 0;
}

Verdict label_verdict(const char *label)
{
    for (int i = 0; i < kLabelClassCount; i++)
        if (matches_label(Match::kGlob, kLabelClasses[i].pattern, label))
            return kLabelClasses[i].verdict;
    return Verdict::kUsable;
}

// The checks in order: what the chip and label say, then what the driver
// flags, then the value itself.
void judge(Candidate *candidate, const Chip *chip)
{
    const sensors_feature *feature = candidate->feature;
    bool temperature = candidate->kind == Kind::kTemperature;
    const sensors_subfeature *input = sensors_get_subfeature(
        chip->name, feature,
        temperature ? SENSORS_SUBFEATURE_TEMP_INPUT : SENSORS_SUBFEATURE_FAN_INPUT);
    candidate->input =
        input != nullptr && (input->flags & SENSORS_MODE_R) != 0 ? input->number : -1;
    bool read = false;
    if (candidate->input >= 0) {
        candidate->error = sensors_get_value(chip->name, candidate->input, &candidate->value);
        read = candidate->error == 0;
    }

    double flag = 0;
    if (matches_any(kUnrelatedChips, chip->name->prefix) ||
        chip->name->bus.type == SENSORS_BUS_TYPE_MDIO)
        candidate->verdict = Verdict::kUnrelatedChip;
    else if (!temperature && chip->is_gpu)
        candidate->verdict = Verdict::kGpuFan;
    else if (label_verdict(candidate->label) == Verdict::kUnconnectedLabel)
        candidate->verdict = Verdict::kUnconnectedLabel;
    else if (candidate->input < 0)
        candidate->verdict = Verdict::kNoInput;
    else if (temperature && read_subfeature(chip, feature, SENSORS_SUBFEATURE_TEMP_TYPE, &flag) &&
             flag == 0)
        candidate->verdict = Verdict::kDisabled;
    else if (read_subfeature(chip, feature,
                             temperature ? SENSORS_SUBFEATURE_TEMP_FAULT
                                         : SENSORS_SUBFEATURE_FAN_FAULT,
                             &flag) &&
             flag != 0)
        candidate->verdict = Verdict::kFault;
    else if (!read)
        candidate->verdict = Verdict::kReadFailed;
    else if (!is_plausible(candidate->kind, candidate->value))
        candidate->verdict = Verdict::kImplausible;
    else
        candidate->verdict = label_verdict(candidate->label);
}

void fill_candidates(void)
{
    for (int c = 0; c < state.chip_count; c++) {
        Chip *chip = &state.chips[c];
        chip->first_candidate = state.candidate_count;
        int nr = 0;
        while (const sensors_feature *feature = sensors_get_features(chip->name, &nr)) {
            if (!is_wanted_feature(feature))
                continue;
            Candidate *candidate = &state.candidates[state.candidate_count++];
            candidate->chip = c;
            candidate->feature = feature;
            candidate->kind =
                feature->type == SENSORS_FEATURE_TEMP ? Kind::kTemperature : Kind::kFan;
            candidate->label = sensors_get_label(chip->name, feature);
            candidate->taken_by = -1;
            judge(candidate, chip);
            chip->candidate_count++;
        }
    }
}

} // namespace

int enumerate_inputs(void)
{
    int chips = count_chips();
    if (chips == 0)
        return kStatusNoChips;
    int features = count_features();
    state.chips = static_cast<Chip *>(calloc(chips, sizeof(Chip)));
    state.candidates =
        static_cast<Candidate *>(calloc(features > 0 ? features : 1, sizeof(Candidate)));
    if (state.chips == nullptr || state.candidates == nullptr)
        return kStatusNoMemory;
    fill_chips();
    if (features == 0)
        return kStatusNoInputs;
    fill_candidates();
    for (int i = 0; i < state.candidate_count; i++)
        if (state.candidates[i].label == nullptr)
            return kStatusNoMemory;
    return kStatusOk;
}

void release_inputs(void)
{
    for (int i = 0; i < state.candidate_count; i++)
        free(state.candidates[i].label);
    free(state.candidates);
    free(state.chips);
    state.candidates = nullptr;
    state.chips = nullptr;
    state.candidate_count = 0;
    state.chip_count = 0;
}

} // namespace quorvane
