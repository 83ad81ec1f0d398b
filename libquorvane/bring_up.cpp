// Starts libsensors with the system's configuration (/etc/sensors3.conf and
// /etc/sensors.d), or with an empty one when that does not parse.
#include <cstdio>
#include <cstring>

#include <sensors/error.h>

#include "state.h"

namespace quorvane {

namespace {

// libsensors prints parse errors to stderr by default; the console belongs
// to the program, so the first error is kept for the description file.
void note_parse_error(const char *error, const char *file, int line)
{
    if (state.config_error[0] != '\0')
        return;
    if (file != nullptr)
        snprintf(state.config_error, sizeof state.config_error, "%s:%d: %s", file, line, error);
    else
        snprintf(state.config_error, sizeof state.config_error, "line %d: %s", line, error);
}

void note_parse_error_without_file(const char *error, int line)
{
    note_parse_error(error, nullptr, line);
}

} // namespace

int start_sensors(void)
{
    sensors_parse_error = note_parse_error_without_file;
    sensors_parse_error_wfn = note_parse_error;
    state.config_error[0] = '\0';
    state.empty_config = false;
    state.config_error_code = 0;

    int error = sensors_init(nullptr);
    if (error == 0 && state.config_error[0] != '\0') {
        // libsensors skips a line it cannot parse and keeps the rest; half
        // a configuration can relabel or recompute the wrong input, so a
        // configuration with any error is not used at all.
        sensors_cleanup();
        error = -SENSORS_ERR_PARSE;
    }
    if (error != 0 && error != -SENSORS_ERR_KERNEL) {
        // The configuration is at fault (a kernel error means no sysfs,
        // which no configuration mends). /dev/null is an empty one.
        state.config_error_code = error;
        if (FILE *empty = fopen("/dev/null", "r")) {
            state.empty_config = true;
            error = sensors_init(empty);
            fclose(empty);
        }
    }
    if (error != 0) {
        state.sensors_error = error;
        return kStatusSensorsFailed;
    }
    state.sensors_up = true;
    return kStatusOk;
}

void stop_sensors(void)
{
    if (state.sensors_up)
        sensors_cleanup();
    state.sensors_up = false;
}

} // namespace quorvane
