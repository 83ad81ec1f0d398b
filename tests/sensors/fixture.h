// Fixture machines for the sensor library's tests and benchmark: a hwmon
// tree described in a small text file, built on a tmpfs over /sys/class in a
// private mount namespace, so that libsensors (and lm-sensors' own sensors
// program) see that machine and nothing else. /sys itself stays the real
// sysfs, which libsensors insists on.
//
// Fixture file format, one statement per line, '#' starts a comment:
//
//   chip NAME BUS DEVICE   a chip: hwmonN (N counts from 0 in file order)
//                          linked into a device directory DEVICE whose
//                          "subsystem" link names BUS (platform, pci, i2c,
//                          acpi, ...), so that the chip comes out as
//                          coretemp-isa-0000 or amdgpu-pci-0300
//   chip NAME virtual      a chip without a device, like iwlwifi_1-virtual-0
//   FEATURE ["LABEL"] VALUE
//                          FEATURE_label (when given) and FEATURE_input of
//                          the last chip, e.g.  temp1 "Package id 0" 45500
//   ATTRIBUTE VALUE        any other file of the chip, e.g.  temp2_fault 1
//   adapter N NAME...      the name of I2C adapter i2c-N
//   config FILE            the lines up to "end" become /etc/sensors.d/FILE,
//                          or /etc/sensors3.conf for FILE "sensors3.conf";
//                          without one, both are empty
//
// VALUE is written as it stands, except:  none  (no such file)  and  eio
// (the file fails to read with EIO: it is a bind mount of the memory file
// of a process that lives as long as the fixture).
#ifndef QUORVANE_TEST_FIXTURE_H
#define QUORVANE_TEST_FIXTURE_H

#include <cstddef>
#include <string>

// Moves the calling process into a mount namespace of its own (a user
// namespace too when not root), where mounts stay private. False, with the
// reason in why, when the system does not allow it.
bool enter_private_namespace(std::string *why);

// Builds the fixture described in the file at path. False, with the reason
// in why, when the file or a mount fails. Valid only inside a private
// namespace. A second call replaces the first fixture.
bool mount_fixture(const std::string &path, std::string *why);

// Makes every later read of the existing file at path fail with EIO.
bool make_read_fail_with_eio(const std::string &path, std::string *why);

// Removes the fixture: the real /sys/class and configuration show again.
void unmount_fixture(void);

// Whether a failed namespace is a skip (a message) or, under CI=true, a
// failure.
bool namespace_failure_is_fatal(void);

#endif
