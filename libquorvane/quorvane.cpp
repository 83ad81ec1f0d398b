// The entry points of the library's bring-up and shut-down.
#include <cstdint>

#include "quorvane.h"
#include "state.h"

namespace quorvane {

State state = {};

namespace {

void clear_choices(void)
{
    for (Choice &choice : state.choices)
        choice = Choice{-1, -1, false, 0, 0, 0};
}

void release_all(void)
{
    state.description_path[0] = '\0';
    clear_choices();
    release_inputs();
    stop_sensors();
}

bool any_choice(void)
{
    for (const Choice &choice : state.choices)
        if (choice.candidate >= 0)
            return true;
    return false;
}

int bring_up(void)
{
    int status = start_sensors();
    if (status != kStatusOk)
        return status;
    status = enumerate_inputs();
    if (status != kStatusOk)
        return status;
    choose_sources();
    return any_choice() ? kStatusOk : kStatusNoReading;
}

} // namespace

} // namespace quorvane

using namespace quorvane;

extern "C" int32_t QUORVANE_CALL Quorvane_Initialize(void)
{
    // A second bring-up starts from scratch: libsensors keeps global state
    // that only sensors_cleanup resets.
    release_all();
    state.tried = true;
    state.sensors_error = 0;
    state.status = bring_up();
    if (state.status != kStatusOk) {
        // The tables stay for the description file; the readings have no
        // source, so Quorvane_GetSensorsValue stores nothing.
        clear_choices();
    }
    return state.status;
}

extern "C" int32_t QUORVANE_CALL Quorvane_Exitialize(void)
{
    refresh_description();
    release_all();
    state.tried = false;
    state.status = 0;
    return 0;
}
