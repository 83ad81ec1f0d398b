// Chooses one source for each reading by walking the rule table in order.
#include "rules.h"
#include "state.h"

namespace quorvane {

namespace {

Kind kind_of(Reading reading)
{
    return reading == kFan ? Kind::kFan : Kind::kTemperature;
}

bool any_discrete_gpu(void)
{
    for (int c = 0; c < state.chip_count; c++)
        if (state.chips[c].is_discrete_gpu)
            return true;
    return false;
}

bool chip_fits(const Rule &rule, const Chip &chip)
{
    if (!matches_any(rule.chips, chip.name->prefix))
        return false;
    switch (rule.chip_is) {
    case ChipIs::kAny:
        return true;
    case ChipIs::kDiscreteGpu:
        return chip.is_discrete_gpu;
    case ChipIs::kIntegratedGpuAlone:
        return chip.is_gpu && !chip.is_discrete_gpu && !any_discrete_gpu();
    }
    return false;
}

// Whether the candidate may feed this reading under this rule. Stopped fans
// count only where the rule takes them or in the second pass for fans.
bool may_feed(const Rule &rule, const Candidate &candidate, bool accept_stopped)
{
    if (candidate.kind != kind_of(rule.reading) || candidate.taken_by >= 0)
        return false;
    bool usable = candidate.verdict == Verdict::kUsable ||
                  (candidate.verdict == Verdict::kCpuFallbackOnly && rule.cpu_fallback);
    if (!usable)
        return false;
    // 0.0 is a placeholder for a CPU or GPU temperature, never a reading.
    if ((rule.reading == kCpu || rule.reading == kGpu) && candidate.value <= 0)
        return false;
    if (rule.pick == Pick::kFirstSpinning && !accept_stopped && candidate.value <= 0)
        return false;
    return true;
}

// Whether b is better than a under the rule's pick; candidates are visited
// in chip order, so "first" keeps a.
bool is_better(const Rule &rule, int a, int b)
{
    if (a < 0)
        return true;
    const Candidate &x = state.candidates[a];
    const Candidate &y = state.candidates[b];
    switch (rule.pick) {
    case Pick::kHottest:
        return y.value > x.value;
    case Pick::kLowestAddress:
        return state.chips[y.chip].name->addr < state.chips[x.chip].name->addr;
    case Pick::kFirst:
    case Pick::kFirstSpinning:
        return false;
    }
    return false;
}

// The chip's best input under the rule: the first label pattern with a
// usable match decides, and within it the rule's pick.
int best_on_chip(const Rule &rule, int chip, bool accept_stopped)
{
    for (int p = 0; p < 8 && rule.labels[p] != nullptr; p++) {
        int best = -1;
        const Chip &on = state.chips[chip];
        for (int i = on.first_candidate; i < on.first_candidate + on.candidate_count; i++) {
            const Candidate &candidate = state.candidates[i];
            if (!may_feed(rule, candidate, accept_stopped) ||
                !matches_label(rule.match, rule.labels[p], candidate.label))
                continue;
            if (is_better(rule, best, i))
                best = i;
        }
        if (best >= 0)
            return best;
    }
    return -1;
}

int apply_rule(const Rule &rule, bool accept_stopped)
{
    int best = -1;
    for (int c = 0; c < state.chip_count; c++) {
        if (!chip_fits(rule, state.chips[c]))
            continue;
        int on_chip = best_on_chip(rule, c, accept_stopped);
        if (on_chip >= 0 && is_better(rule, best, on_chip))
            best = on_chip;
    }
    return best;
}

void choose(Reading reading)
{
    Choice *choice = &state.choices[reading];
    // Fans take the first that spins; only when none does anywhere, the
    // rules run again and take a stopped fan, which may start later.
    for (int pass = 0; pass < 2 && choice->candidate < 0; pass++) {
        bool accept_stopped = pass == 1;
        if (accept_stopped && reading != kFan)
            break;
        for (int r = 0; r < kRuleCount; r++) {
            if (kRules[r].reading != reading)
                continue;
            int found = apply_rule(kRules[r], accept_stopped);
            if (found >= 0) {
                choice->candidate = found;
                choice->rule = r;
                choice->stopped_at_bring_up = accept_stopped;
                state.candidates[found].taken_by = reading;
                break;
            }
        }
    }
}

} // namespace

void choose_sources(void)
{
    // In reading order: an input that feeds the CPU cannot also feed MBD.
    for (int r = 0; r < kReadingCount; r++) {
        state.choices[r] = Choice{-1, -1, false, 0, 0, 0};
        choose(static_cast<Reading>(r));
    }
}

} // namespace quorvane
