/*
 * quorvane.h - the four entry points of the Quorvane sensor library.
 *
 * Valid C and C++. The library is bound when the program loads; the program
 * has no code path for its absence.
 *
 * Threads: the interface is not thread-safe. One thread makes every call,
 * and no two calls overlap.
 *
 * Life cycle: Quorvane_Initialize, then any number of
 * Quorvane_DumpSensorsInfo and Quorvane_GetSensorsValue calls, then
 * Quorvane_Exitialize. The library owns whatever it acquires between
 * Quorvane_Initialize and Quorvane_Exitialize. A caller may go on calling
 * after a failed bring-up: the other calls must then be harmless.
 */
#ifndef QUORVANE_H
#define QUORVANE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#else
#include <uchar.h> /* char16_t; a keyword in C++ */
#endif

/*
 * Calling convention of every entry point. On 32-bit Windows the library
 * exports __cdecl functions under their plain, undecorated names; another
 * convention changes this macro and sensor/quorvane.def, nothing else.
 */
#if defined(_WIN32) && !defined(_WIN64)
#define QUORVANE_CALL __cdecl
#else
#define QUORVANE_CALL
#endif

/*
 * Brings the library up. Returns 0 when the library is ready; any other
 * value is a failure code of the library's own. Call it once, before the
 * other entry points.
 *
 * Failure codes of the Linux library (on libsensors); the description file
 * written by Quorvane_DumpSensorsInfo explains each and what to do:
 *   1  libsensors could not start: sysfs is not mounted at /sys, or memory
 *      ran out.
 *   2  no sensor chip at all: no hwmon driver is loaded (a virtual machine
 *      or container usually has none). Run sensors-detect, load the drivers.
 *   3  chips, but none with a temperature or fan input.
 *   4  temperature or fan inputs, but none passed the checks (fault flag,
 *      disabled, read failed, implausible value, unconnected or unrelated
 *      input) and matched a rule for CPU, GPU, MBD or FAN.
 *   5  the library's own tables could not be allocated.
 * A system sensors configuration (/etc/sensors3.conf, /etc/sensors.d) that
 * does not parse is no failure: the library reads again with an empty one
 * and says so in the description file.
 *
 * Calling it again, with or without Quorvane_Exitialize between, starts
 * the library afresh.
 */
int32_t QUORVANE_CALL Quorvane_Initialize(void);

/*
 * Writes a description of the library's sensors to the file at path, a
 * NUL-terminated UTF-16 string (char16_t, because wchar_t is 32 bits on
 * Linux). A bare name means the current directory. The caller keeps
 * ownership of path; it need only live for the call. Returns 0 when the
 * file was written, non-zero otherwise.
 */
int32_t QUORVANE_CALL Quorvane_DumpSensorsInfo(const char16_t *path);

/*
 * Stores the current readings through the four pointers, in this order:
 *   cpu, gpu, mbd  temperatures in whole degrees Celsius;
 *   fan            a fan speed in revolutions per minute.
 * Each pointer must point to a writable int32_t owned by the caller; the
 * library writes only during the call and keeps no pointer. A reading the
 * library cannot take is left as the caller set it, so callers zero them
 * first. Returns 0 when all four were stored, non-zero otherwise.
 */
int32_t QUORVANE_CALL Quorvane_GetSensorsValue(int32_t *cpu, int32_t *gpu, int32_t *mbd,
                                               int32_t *fan);

/*
 * Releases what the library acquired. No further call follows except a new
 * Quorvane_Initialize. Returns 0 on success. Safe after a failed bring-up
 * and when called twice. The Linux library first writes the description
 * file again when readings failed after it was written, so that the file
 * explains the zeros of those samples.
 */
int32_t QUORVANE_CALL Quorvane_Exitialize(void);

#ifdef __cplusplus
}
#endif

#endif
