// Reading the chosen inputs: the only work Quorvane_GetSensorsValue does.
#include <cmath>
#include <cstdint>

#include "quorvane.h"
#include "rules.h"
#include "state.h"

namespace quorvane {

bool is_plausible(Kind kind, double value)
{
    if (kind == Kind::kTemperature)
        return value > kLowestTemperature && value < kHighestTemperature;
    return value >= 0 && value < kFastestFan;
}

// Nearest whole number, halves away from zero: 45.5 gives 46, -4.6 gives -5.
// Only called on plausible values, which fit an int.
int round_to_int(double value)
{
    return static_cast<int>(lround(value));
}

} // namespace quorvane

using namespace quorvane;

namespace {

// Stores the reading through out when its source reads a plausible value.
// A failed or implausible read stores nothing: the caller's 0 stays.
bool read_into(Reading reading, int32_t *out)
{
    Choice &choice = state.choices[reading];
    if (!state.sensors_up || choice.candidate < 0 || out == nullptr)
        return false;
    const Candidate &candidate = state.candidates[choice.candidate];
    double value = 0;
    int error = sensors_get_value(state.chips[candidate.chip].name, candidate.input, &value);
    choice.reads++;
    if (error != 0 || !is_plausible(candidate.kind, value)) {
        // Kept for the description file; a chip that went away, EIO or a
        // wild value all end here.
        choice.failed_reads++;
        choice.last_error = error;
        return false;
    }
    *out = round_to_int(value);
    return true;
}

} // namespace

extern "C" int32_t QUORVANE_CALL Quorvane_GetSensorsValue(int32_t *cpu, int32_t *gpu, int32_t *mbd,
                                                          int32_t *fan)
{
    // Before bring-up and after shut-down, sensors_up is false and the
    // choices are empty: nothing is read and nothing is stored.
    int stored = 0;
    stored += read_into(kCpu, cpu) ? 1 : 0;
    stored += read_into(kGpu, gpu) ? 1 : 0;
    stored += read_into(kMbd, mbd) ? 1 : 0;
    stored += read_into(kFan, fan) ? 1 : 0;
    return stored == kReadingCount ? 0 : 1;
}
