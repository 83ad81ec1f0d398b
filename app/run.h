// The fixed test run of the sensor library, from start to exit.
#pragma once

// Brings the library up, has it describe its sensors in "sensorinfo.txt",
// prints twenty samples half a second apart, shuts the library down, closes
// the run log and waits for a key. Returns the exit status, 0. An interrupt
// cuts the run short, shuts the library down, keeps the log and ends the
// process by that interrupt instead of returning.
int run_demo(void);
