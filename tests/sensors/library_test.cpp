// The sensor library on fixture machines: which inputs it chooses, what it
// reads, what it writes, how it behaves when inputs go bad, and whether its
// values agree with lm-sensors' own sensors program on the same tree.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixture.h"
#include "quorvane.h"
#include "state.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kUnset = -999; // what a reading holds when nothing is stored
const char *const kReadingNames[] = {"CPU", "GPU", "MBD", "FAN"};

// Enters the private namespace once per process, then mounts the fixture.
// A machine that allows no namespace skips, or fails under CI=true.
#define MOUNT_PATH_OR_SKIP(path)                                                                   \
    do {                                                                                           \
        std::string why_;                                                                          \
        if (!namespace_ready(&why_)) {                                                             \
            if (namespace_failure_is_fatal())                                                      \
                FAIL() << "no private mount namespace under CI=true: " << why_;                    \
            GTEST_SKIP() << "no private mount namespace, fixture tests skipped: " << why_;         \
        }                                                                                          \
        ASSERT_TRUE(mount_fixture(path, &why_)) << why_;                                           \
    } while (0)
#define MOUNT_OR_SKIP(name) MOUNT_PATH_OR_SKIP(fixture_path(name))

bool namespace_ready(std::string *why)
{
    static int state = 0; // 0 untried, 1 entered, -1 refused
    static std::string reason;
    if (state == 0)
        state = enter_private_namespace(&reason) ? 1 : -1;
    *why = reason;
    return state == 1;
}

std::string fixture_path(const std::string &name)
{
    return std::string(QUORVANE_FIXTURES) + "/" + name + ".hwmon";
}

std::string read_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_text(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

// The sysfs file of a chip's input, as the library's chosen source names it.
std::string input_file(int reading)
{
    const quorvane::Choice &choice = quorvane::state.choices[reading];
    const quorvane::Candidate &candidate = quorvane::state.candidates[choice.candidate];
    const quorvane::Chip &chip = quorvane::state.chips[candidate.chip];
    return std::string(chip.name->path) + "/" + candidate.feature->name + "_input";
}

struct Readings {
    int32_t value[4] = {kUnset, kUnset, kUnset, kUnset};
    int32_t result = 0;
};

Readings take_readings(void)
{
    Readings r;
    r.result = Quorvane_GetSensorsValue(&r.value[0], &r.value[1], &r.value[2], &r.value[3]);
    return r;
}

std::string describe(void)
{
    std::string path = testing::TempDir() + "quorvane-sensorinfo-" + std::to_string(getpid());
    std::u16string wide(path.begin(), path.end());
    EXPECT_EQ(Quorvane_DumpSensorsInfo(wide.c_str()), 0);
    std::string text = read_text(path);
    unlink(path.c_str());
    return text;
}

// The values of `sensors -j`: "chip/temp1_input" -> 45.5. The output is
// nested objects of chips, features and subfeature numbers; this reads
// exactly that much JSON.
std::map<std::string, double> sensors_json(const char *options)
{
    std::map<std::string, double> values;
    std::string command = std::string(QUORVANE_SENSORS_PROGRAM) + " -j " + options + " 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return values;
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    pclose(pipe);

    std::vector<std::string> path;
    std::string last, key;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '"') {
            size_t end = text.find('"', i + 1);
            last = text.substr(i + 1, end - i - 1);
            i = end;
        } else if (c == ':') {
            key = last;
        } else if (c == '{') {
            path.push_back(key);
        } else if (c == '}') {
            path.pop_back();
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            char *end = nullptr;
            double value = strtod(text.c_str() + i, &end);
            if (path.size() == 3)
                values[path[1] + "/" + key] = value;
            i = end - text.c_str() - 1;
        }
    }
    return values;
}

class SensorTest : public testing::Test {
  protected:
    void TearDown() override
    {
        Quorvane_Exitialize();
        unmount_fixture();
    }
};

// ---- Which source feeds each reading, on realistic machines ----

struct Source {
    const char *chip; // nullptr: no source
    const char *feature;
    int32_t value;
};

struct Machine {
    const char *fixture;
    int32_t status;
    Source sources[4]; // CPU, GPU, MBD, FAN
    // How sensors is run to see what the library sees: the library drops a
    // configuration with errors, where sensors keeps what parses.
    const char *sensors_options = "";
};

constexpr Source kNone = {nullptr, nullptr, 0};

const Machine kMachines[] = {
    {"intel-desktop",
     0,
     {{"coretemp-isa-0000", "temp1", 46}, // 45.5 rounds up
      kNone,
      {"nct6798-isa-0290", "temp1", 33},
      {"nct6798-isa-0290", "fan2", 1251}}},
    {"amd-desktop",
     0,
     {{"k10temp-pci-00c3", "temp1", 53}, // Tctl 52.875
      {"amdgpu-pci-0300", "temp1", 41},  // the discrete card, not the integrated one
      {"it8689-isa-0a30", "temp1", 36},  // labelled and computed by the config
      {"it8689-isa-0a30", "fan1", 1450}}},
    {"dual-socket-server",
     0,
     {{"coretemp-isa-0001", "temp1", 67}, kNone, {"lm75-i2c-0-48", "temp1", 29}, kNone}},
    {"laptop",
     0,
     {{"coretemp-isa-0000", "temp1", 51},
      kNone,
      {"pch_cannonlake-pci-0090", "temp1", 46},
      {"thinkpad-isa-0000", "fan1", 2650}}},
    {"idle-laptop",
     0,
     {{"coretemp-isa-0000", "temp1", 38},
      kNone,
      {"dell_smm-isa-0000", "temp2", 31},
      {"dell_smm-isa-0000", "fan1", 0}}}, // the stopped processor fan, not the video fan
    {"stopped-fans",
     0,
     {{"coretemp-isa-0000", "temp1", 35},
      kNone,
      {"nct6779-isa-0290", "temp1", 29},
      {"nct6779-isa-0290", "fan2", 0}}},
    {"firmware-zone", 0, {{"acpitz-acpi-0", "temp1", 40}, kNone, kNone, kNone}},
    {"virtual-machine", 2, {kNone, kNone, kNone, kNone}},
    {"hostile",
     0,
     {{"coretemp-isa-0000", "temp7", 44},
      {"amdgpu-pci-0b00", "temp2", 55},  // edge reads 0.0, a placeholder
      {"nct6775-isa-0290", "temp1", -5}, // -4.6
      {"nct6775-isa-0290", "fan4", 730}}},
    {"malformed-config",
     0,
     // Read with an empty configuration: no "CPU Temperature" label and no
     // compute, so no CPU source and temp1 raw.
     {kNone, kNone, {"it8728-isa-0290", "temp1", 30}, {"it8728-isa-0290", "fan1", 1100}},
     "-c /dev/null"},
};

void PrintTo(const Machine &machine, std::ostream *out)
{
    *out << machine.fixture;
}

class MachineTest : public SensorTest, public testing::WithParamInterface<Machine> {};

TEST_P(MachineTest, ChoosesEachSourceByChipAndLabel)
{
    const Machine &machine = GetParam();
    MOUNT_OR_SKIP(machine.fixture);
    ASSERT_EQ(Quorvane_Initialize(), machine.status);
    for (int r = 0; r < 4; r++) {
        SCOPED_TRACE(kReadingNames[r]);
        const Source &expected = machine.sources[r];
        const quorvane::Choice &choice = quorvane::state.choices[r];
        if (expected.chip == nullptr) {
            EXPECT_EQ(choice.candidate, -1);
            continue;
        }
        ASSERT_GE(choice.candidate, 0);
        const quorvane::Candidate &candidate = quorvane::state.candidates[choice.candidate];
        EXPECT_STREQ(quorvane::state.chips[candidate.chip].text, expected.chip);
        EXPECT_STREQ(candidate.feature->name, expected.feature);
    }
}

TEST_P(MachineTest, StoresRoundedValuesAndNothingWithoutSource)
{
    const Machine &machine = GetParam();
    MOUNT_OR_SKIP(machine.fixture);
    ASSERT_EQ(Quorvane_Initialize(), machine.status);
    Readings readings = take_readings();
    bool all = true;
    for (int r = 0; r < 4; r++) {
        SCOPED_TRACE(kReadingNames[r]);
        const Source &expected = machine.sources[r];
        EXPECT_EQ(readings.value[r], expected.chip != nullptr ? expected.value : kUnset);
        all = all && expected.chip != nullptr;
    }
    EXPECT_EQ(readings.result == 0, all);
}

TEST_P(MachineTest, AgreesWithSensorsProgram)
{
    const Machine &machine = GetParam();
    if (strlen(QUORVANE_SENSORS_PROGRAM) == 0) {
        if (namespace_failure_is_fatal())
            FAIL() << "lm-sensors' sensors program is missing (apt-get install lm-sensors)";
        GTEST_SKIP() << "lm-sensors' sensors program is missing (apt-get install lm-sensors)";
    }
    MOUNT_OR_SKIP(machine.fixture);
    ASSERT_EQ(Quorvane_Initialize(), machine.status);
    Readings readings = take_readings();
    std::map<std::string, double> shown = sensors_json(machine.sensors_options);
    for (int r = 0; r < 4; r++) {
        const Source &source = machine.sources[r];
        if (source.chip == nullptr)
            continue;
        SCOPED_TRACE(kReadingNames[r]);
        std::string key = std::string(source.chip) + "/" + source.feature + "_input";
        ASSERT_EQ(shown.count(key), 1u) << key << " is missing from sensors -j";
        EXPECT_EQ(readings.value[r], std::lround(shown[key]));
    }
}

std::string machine_name(const testing::TestParamInfo<Machine> &info)
{
    std::string name = info.param.fixture;
    for (char &c : name)
        if (c == '-')
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Machines, MachineTest, testing::ValuesIn(kMachines), machine_name);

// ---- One rule at a time, on machines of one or two chips ----

struct RuleCase {
    const char *name;
    const char *machine; // fixture text
    int reading;
    const char *chip; // nullptr: no source
    const char *feature;
};

const RuleCase kRuleCases[] = {
    {"coretemp_physical_id_on_older_kernels",
     "chip coretemp platform coretemp.0\n temp1 \"Physical id 0\" 50000\n"
     " temp2 \"Core 0\" 55000",
     quorvane::kCpu, "coretemp-isa-0000", "temp1"},
    {"coretemp_hottest_core_without_package",
     "chip coretemp platform coretemp.0\n temp2 \"Core 0\" 50000\n temp3 \"Core 1\" 58000",
     quorvane::kCpu, "coretemp-isa-0000", "temp3"},
    {"zen_tdie_before_tctl",
     "chip k10temp pci 0000:00:18.3\n temp1 \"Tctl\" 70000\n temp2 \"Tdie\" 60000", quorvane::kCpu,
     "k10temp-pci-00c3", "temp2"},
    {"zen_hottest_ccd_without_tctl",
     "chip zenpower pci 0000:00:18.3\n temp3 \"Tccd1\" 45000\n temp4 \"Tccd2\" 49000",
     quorvane::kCpu, "zenpower-pci-00c3", "temp4"},
    {"hottest_socket_of_two",
     "chip k10temp pci 0000:00:18.3\n temp1 \"Tctl\" 55000\n"
     "chip k10temp pci 0000:00:19.3\n temp1 \"Tctl\" 61000",
     quorvane::kCpu, "k10temp-pci-00cb", "temp1"},
    {"soc_thermal_chip", "chip cpu_thermal virtual\n temp1 47000", quorvane::kCpu,
     "cpu_thermal-virtual-0", "temp1"},
    {"board_label_cpu_package_first",
     "chip asus_wmi_sensors platform asus-wmi-sensors\n temp1 \"CPU Temperature\" 41000\n"
     " temp2 \"CPU Package\" 44000",
     quorvane::kCpu, "asus_wmi_sensors-isa-0000", "temp2"},
    {"word_cpu_but_not_cputin",
     "chip nct6687 platform nct6687.2592\n temp1 \"CPU Socket\" 40000\n"
     " temp2 \"CPUTIN\" 90000",
     quorvane::kCpu, "nct6687-isa-0a20", "temp1"},
    {"peci_as_cpu_fallback",
     "chip nct6775 platform nct6775.656\n temp1 \"SYSTIN\" 30000\n"
     " temp7 \"PECI Agent 0\" 45000",
     quorvane::kCpu, "nct6775-isa-0290", "temp7"},
    {"thinkpad_before_acpitz",
     "chip acpitz acpi LNXTHERM:00\n temp1 60000\n"
     "chip thinkpad platform thinkpad_hwmon\n temp1 50000",
     quorvane::kCpu, "thinkpad-isa-0000", "temp1"},
    {"radeon", "chip radeon pci 0000:01:00.0\n temp1 55000", quorvane::kGpu, "radeon-pci-0100",
     "temp1"},
    {"lowest_pci_address_of_two_cards",
     "chip amdgpu pci 0000:0a:00.0\n temp1 \"edge\" 50000\n temp2 \"junction\" 52000\n"
     "chip amdgpu pci 0000:03:00.0\n temp1 \"edge\" 60000\n temp2 \"junction\" 62000",
     quorvane::kGpu, "amdgpu-pci-0300", "temp1"},
    {"junction_without_edge",
     "chip amdgpu pci 0000:03:00.0\n temp2 \"junction\" 62000\n temp3 \"mem\" 70000",
     quorvane::kGpu, "amdgpu-pci-0300", "temp2"},
    {"nouveau_before_integrated_amdgpu",
     "chip amdgpu pci 0000:10:00.0\n temp1 \"edge\" 40000\n"
     "chip nouveau pci 0000:01:00.0\n temp1 50000",
     quorvane::kGpu, "nouveau-pci-0100", "temp1"},
    {"integrated_amdgpu_alone", "chip amdgpu pci 0000:10:00.0\n temp1 \"edge\" 40000",
     quorvane::kGpu, "amdgpu-pci-1000", "temp1"},
    {"word_gpu_on_another_chip",
     "chip asus_ec_sensors platform asus-ec-sensors\n temp1 \"Chipset\" 45000\n"
     " temp2 \"GPU Temp\" 48000",
     quorvane::kGpu, "asus_ec_sensors-isa-0000", "temp2"},
    {"unconnected_inputs_never_count",
     "chip nct6798 platform nct6775.656\n temp2 \"CPUTIN\" 50000\n"
     " temp3 \"AUXTIN0\" 40000\n temp8 \"Water_In\" 30000",
     quorvane::kMbd, nullptr, nullptr},
    {"chipset_label",
     "chip nct6798 platform nct6775.656\n temp3 \"AUXTIN0\" 40000\n"
     " temp9 \"PCH_CHIP_TEMP\" 45000",
     quorvane::kMbd, "nct6798-isa-0290", "temp9"},
    {"super_io_at_lowest_address",
     "chip it8792 platform it87.2640\n temp1 40000\n"
     "chip it8688 platform it87.656\n temp1 35000",
     quorvane::kMbd, "it8688-isa-0290", "temp1"},
    {"acpitz_when_not_feeding_cpu",
     "chip coretemp platform coretemp.0\n temp1 \"Package id 0\" 50000\n"
     "chip acpitz acpi LNXTHERM:00\n temp1 30000",
     quorvane::kMbd, "acpitz-acpi-0", "temp1"},
    {"cpu_opt_label",
     "chip asus_wmi_sensors platform asus-wmi-sensors\n fan1 \"Chassis Fan 1\" 800\n"
     " fan2 \"CPU_OPT\" 1200",
     quorvane::kFan, "asus_wmi_sensors-isa-0000", "fan2"},
    {"cpu_fan_label_in_any_case",
     "chip asus_ec_sensors platform asus-ec-sensors\n fan1 \"Chassis\" 700\n"
     " fan2 \"cpu_fan\" 1500",
     quorvane::kFan, "asus_ec_sensors-isa-0000", "fan2"},
    {"nuvoton_fan2_first", "chip nct6798 platform nct6775.656\n fan1 800\n fan2 1200",
     quorvane::kFan, "nct6798-isa-0290", "fan2"},
    {"nuvoton_first_spinning_when_fan2_stopped",
     "chip nct6798 platform nct6775.656\n fan1 800\n fan2 0", quorvane::kFan, "nct6798-isa-0290",
     "fan1"},
    {"ite_fan1_first", "chip it8688 platform it87.656\n fan1 1300\n fan2 900", quorvane::kFan,
     "it8688-isa-0290", "fan1"},
    {"gpu_fan_never_counts",
     "chip amdgpu pci 0000:03:00.0\n temp1 \"edge\" 50000\n temp2 \"junction\" 52000\n"
     " fan1 1500",
     quorvane::kFan, nullptr, nullptr},
};

class RuleTest : public SensorTest, public testing::WithParamInterface<RuleCase> {
  protected:
    void TearDown() override
    {
        SensorTest::TearDown();
        unlink(path_.c_str());
    }
    std::string path_;
};

void PrintTo(const RuleCase &rule, std::ostream *out)
{
    *out << rule.name;
}

TEST_P(RuleTest, ChoosesTheSource)
{
    const RuleCase &rule = GetParam();
    path_ = testing::TempDir() + "quorvane-rule-" + std::to_string(getpid()) + ".hwmon";
    write_text(path_, std::string(rule.machine) + "\n");
    MOUNT_PATH_OR_SKIP(path_);
    Quorvane_Initialize();
    const quorvane::Choice &choice = quorvane::state.choices[rule.reading];
    if (rule.chip == nullptr) {
        EXPECT_EQ(choice.candidate, -1) << describe();
        return;
    }
    ASSERT_GE(choice.candidate, 0) << describe();
    const quorvane::Candidate &candidate = quorvane::state.candidates[choice.candidate];
    EXPECT_STREQ(quorvane::state.chips[candidate.chip].text, rule.chip) << describe();
    EXPECT_STREQ(candidate.feature->name, rule.feature) << describe();
}

std::string rule_name(const testing::TestParamInfo<RuleCase> &param)
{
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(Rules, RuleTest, testing::ValuesIn(kRuleCases), rule_name);

// ---- Reading over time ----

using ReadingTest = SensorTest;

// What a later read of the CPU input makes of the file's content.
TEST_F(ReadingTest, StoresOnlyPlausibleValuesOfLaterReads)
{
    MOUNT_OR_SKIP("intel-desktop");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    struct Case {
        const char *content;
        int32_t cpu;
    } cases[] = {
        {"45499", 45},
        {"45500", 46},
        {"-4500", -5},
        {"-4600", -5},
        {"124999", 125},
        {"125000", kUnset},
        {"-40000", kUnset},
        {"abc", kUnset},
        {"", kUnset},
        {"99999999999999999999999", kUnset},
        {"-2147483649000", kUnset},
        {"nan", kUnset},
        {"62000", 62},
    };
    std::string file = input_file(quorvane::kCpu);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("content \"") + c.content + "\"");
        write_text(file, std::string(c.content) + "\n");
        Readings readings = take_readings();
        EXPECT_EQ(readings.value[quorvane::kCpu], c.cpu);
        EXPECT_EQ(readings.value[quorvane::kFan], 1251); // the others go on
    }
}

TEST_F(ReadingTest, ChipThatDisappearsStoresNothingAndIsDescribed)
{
    MOUNT_OR_SKIP("amd-desktop");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    // The driver is unloaded: its hwmon directory goes.
    fs::path chip = fs::path(input_file(quorvane::kCpu)).parent_path();
    fs::remove_all(fs::canonical(chip));
    Readings readings = take_readings();
    EXPECT_EQ(readings.value[quorvane::kCpu], kUnset);
    EXPECT_EQ(readings.value[quorvane::kGpu], 41);
    EXPECT_NE(readings.result, 0);
    std::string text = describe();
    EXPECT_NE(text.find("1 of 1 reads since bring-up stored nothing"), std::string::npos) << text;
}

TEST_F(ReadingTest, ReadFailingWithEioStoresNothingAndIsDescribed)
{
    MOUNT_OR_SKIP("intel-desktop");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    std::string why;
    ASSERT_TRUE(make_read_fail_with_eio(input_file(quorvane::kMbd), &why)) << why;
    Readings readings = take_readings();
    EXPECT_EQ(readings.value[quorvane::kMbd], kUnset);
    EXPECT_EQ(readings.value[quorvane::kCpu], 46);
    std::string text = describe();
    EXPECT_NE(text.find("stored nothing; the last: I/O error"), std::string::npos) << text;
}

TEST_F(ReadingTest, StoppedFanChosenAtBringUpIsReadWhenItStarts)
{
    MOUNT_OR_SKIP("stopped-fans");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    write_text(input_file(quorvane::kFan), "912\n");
    EXPECT_EQ(take_readings().value[quorvane::kFan], 912);
}

// ---- Life cycle ----

using LifeCycleTest = SensorTest;

TEST_F(LifeCycleTest, StoresNothingBeforeBringUpAndAfterShutDown)
{
    MOUNT_OR_SKIP("intel-desktop");
    Readings before = take_readings();
    EXPECT_NE(before.result, 0);
    for (int32_t value : before.value)
        EXPECT_EQ(value, kUnset);

    ASSERT_EQ(Quorvane_Initialize(), 0);
    EXPECT_EQ(take_readings().value[quorvane::kCpu], 46);
    EXPECT_EQ(Quorvane_Exitialize(), 0);
    EXPECT_EQ(Quorvane_Exitialize(), 0); // a second shut-down is harmless

    Readings after = take_readings();
    EXPECT_NE(after.result, 0);
    for (int32_t value : after.value)
        EXPECT_EQ(value, kUnset);
}

TEST_F(LifeCycleTest, WorksAgainAfterShutDownAndAfterSecondBringUp)
{
    MOUNT_OR_SKIP("amd-desktop");
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        ASSERT_EQ(Quorvane_Initialize(), 0);
        if (round == 1) {
            ASSERT_EQ(Quorvane_Initialize(), 0); // without a shut-down between
        }
        Readings readings = take_readings();
        EXPECT_EQ(readings.result, 0);
        EXPECT_EQ(readings.value[quorvane::kCpu], 53);
        EXPECT_EQ(readings.value[quorvane::kFan], 1450);
        Quorvane_Exitialize();
    }
}

TEST_F(LifeCycleTest, FailedBringUpStoresNothingAndShutsDownCleanly)
{
    MOUNT_OR_SKIP("virtual-machine");
    EXPECT_EQ(Quorvane_Initialize(), 2);
    Readings readings = take_readings();
    EXPECT_NE(readings.result, 0);
    for (int32_t value : readings.value)
        EXPECT_EQ(value, kUnset);
    EXPECT_EQ(Quorvane_Exitialize(), 0);
    EXPECT_EQ(Quorvane_Exitialize(), 0);
}

TEST_F(LifeCycleTest, NullPointersAreSkipped)
{
    MOUNT_OR_SKIP("intel-desktop");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    int32_t fan = kUnset;
    EXPECT_NE(Quorvane_GetSensorsValue(nullptr, nullptr, nullptr, &fan), 0);
    EXPECT_EQ(fan, 1251);
}

// ---- The description file ----

using DescriptionTest = SensorTest;

TEST_F(DescriptionTest, NamesEachReadingsSourceAndRule)
{
    MOUNT_OR_SKIP("amd-desktop");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    std::string text = describe();
    for (const char *line : {
             "on libsensors 3.",
             "Configuration: the system's",
             "CPU: k10temp-pci-00c3 \"Tctl\" (temp1), 52.9 °C at bring-up; rule: AMD control",
             "GPU: amdgpu-pci-0300 \"edge\" (temp1)",
             "MBD: it8689-isa-0a30 \"Motherboard\" (temp1), 36.0 °C",
             "FAN: it8689-isa-0a30 \"CPU Fan\" (fan1), 1450 RPM",
             "amdgpu-pci-1000 (PCI adapter)",
             "\"fan1\" (fan1): 1200 RPM; dropped: a GPU's fan never counts",
             "nvme-pci-0200 (PCI adapter)",
             "r8169_0_a00:00-mdio-0 (MDIO adapter)",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
    // The configuration's ignore statement hides the ITE chip's temp3.
    EXPECT_EQ(text.find("-128"), std::string::npos) << text;
}

TEST_F(DescriptionTest, SaysWhyEachHostileInputWasDropped)
{
    MOUNT_OR_SKIP("hostile");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    std::string text = describe();
    for (const char *line : {
             "\"Package id 0\" (temp1): no value; read failed: Can't read; dropped: the read",
             "\"Core 0\" (temp2): no value; read failed: I/O error; dropped: the read failed",
             "\"Core 1\" (temp3): no value; dropped: no readable input",
             "\"Core 2\" (temp4): 0.0 °C; a placeholder",
             "\"Core 3\" (temp5): 1e+20 °C; dropped: implausible value",
             "\"Core 4\" (temp6): 57.0 °C; dropped: fault flag set",
             "\"fan1\" (fan1): 65535 RPM; dropped: implausible value",
             "\"fan2\" (fan2): 0 RPM; stopped",
             "\"fan3\" (fan3): 980 RPM; dropped: fault flag set",
             "\"Chipset\" (temp3): 41.0 °C; dropped: disabled (type 0)",
             "\"SYSTIN\" (temp1): -4.6 °C; feeds MBD",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
}

TEST_F(DescriptionTest, ExplainsMissingSensorsAndWhatToDo)
{
    MOUNT_OR_SKIP("virtual-machine");
    ASSERT_EQ(Quorvane_Initialize(), 2);
    std::string text = describe();
    for (const char *line : {"Bring-up failed (code 2)", "hwmon driver", "sensors-detect",
                             "virtual machine", "CPU: none", "FAN: none"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
}

TEST_F(DescriptionTest, SaysWhenTheConfigurationDidNotParse)
{
    MOUNT_OR_SKIP("malformed-config");
    // libsensors would print the error on the program's console.
    testing::internal::CaptureStderr();
    ASSERT_EQ(Quorvane_Initialize(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::string text = describe();
    EXPECT_NE(text.find("Configuration: EMPTY"), std::string::npos) << text;
    EXPECT_NE(text.find("/etc/sensors.d/broken.conf:3: syntax error"), std::string::npos) << text;
}

TEST_F(DescriptionTest, SaysWhenNotBroughtUp)
{
    MOUNT_OR_SKIP("intel-desktop");
    std::string text = describe();
    EXPECT_NE(text.find("The library is not up"), std::string::npos) << text;
}

// ---- Writing the description file ----

class DumpFileTest : public SensorTest {
  protected:
    void SetUp() override
    {
        dir_ = testing::TempDir() + "quorvane-dump-" + std::to_string(getpid());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        SensorTest::TearDown();
        umount2(dir_.c_str(), MNT_DETACH);
        fs::remove_all(dir_);
    }
    int32_t dump(const std::u16string &name)
    {
        std::string utf8 = dir_ + "/";
        std::u16string path(utf8.begin(), utf8.end());
        return Quorvane_DumpSensorsInfo((path + name).c_str());
    }
    std::vector<std::string> files(void)
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        return names;
    }
    std::string dir_;
};

TEST_F(DumpFileTest, ReplacesTheFileWithTheUsualMode)
{
    MOUNT_OR_SKIP("intel-desktop");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    write_text(dir_ + "/sensorinfo.txt", "an older description\n");
    for (mode_t mask : {022, 027, 077}) {
        SCOPED_TRACE(mask);
        mode_t previous = umask(mask);
        int32_t result = dump(u"sensorinfo.txt");
        umask(previous);
        ASSERT_EQ(result, 0);
        struct stat info {};
        ASSERT_EQ(stat((dir_ + "/sensorinfo.txt").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
        EXPECT_EQ(files(), std::vector<std::string>{"sensorinfo.txt"}); // no temporary left
        EXPECT_EQ(read_text(dir_ + "/sensorinfo.txt").rfind("Quorvane sensor library", 0), 0u);
    }
}

TEST_F(DumpFileTest, ConvertsUtf16NamesToUtf8)
{
    MOUNT_OR_SKIP("intel-desktop");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    ASSERT_EQ(dump(u"Sensor-\u00e9\u4e2d\U0001F321.txt"), 0);
    EXPECT_EQ(files(), std::vector<std::string>{"Sensor-\u00e9\u4e2d\U0001F321.txt"});
}

TEST_F(DumpFileTest, RefusesNamesItCannotWrite)
{
    MOUNT_OR_SKIP("intel-desktop");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    const char16_t lone_surrogate[] = {u'a', 0xD800, u'b', 0};
    EXPECT_NE(dump(lone_surrogate), 0);
    EXPECT_NE(dump(u"no-such-directory/sensorinfo.txt"), 0);
    EXPECT_NE(Quorvane_DumpSensorsInfo(u""), 0);
    EXPECT_NE(Quorvane_DumpSensorsInfo(nullptr), 0);
    EXPECT_TRUE(files().empty());
}

TEST_F(DumpFileTest, IsWrittenAgainAtShutDownOnlyWhenReadsFailedAfterIt)
{
    MOUNT_OR_SKIP("amd-desktop");
    for (bool lose_chip : {false, true}) {
        SCOPED_TRACE(lose_chip ? "a chip goes" : "all reads succeed");
        ASSERT_EQ(Quorvane_Initialize(), 0);
        // A bare name, as the program passes it; then the caller moves
        // away, which the program does not do, but a caller may.
        std::string previous = fs::current_path();
        fs::current_path(dir_);
        ASSERT_EQ(Quorvane_DumpSensorsInfo(u"sensorinfo.txt"), 0);
        fs::current_path("/");
        std::string first = read_text(dir_ + "/sensorinfo.txt");
        if (lose_chip)
            fs::remove_all(fs::canonical(fs::path(input_file(quorvane::kCpu)).parent_path()));
        take_readings();
        take_readings();
        Quorvane_Exitialize();
        fs::current_path(previous);
        std::string last = read_text(dir_ + "/sensorinfo.txt");
        if (!lose_chip) {
            EXPECT_EQ(last, first);
            continue;
        }
        EXPECT_NE(last.find("Written again at shut-down"), std::string::npos) << last;
        EXPECT_NE(last.find("2 of 2 reads since bring-up stored nothing"), std::string::npos)
            << last;
        EXPECT_EQ(files(), std::vector<std::string>{"sensorinfo.txt"});
    }
}

TEST_F(DumpFileTest, LeavesTheOldFileWhenTheDirectoryIsReadOnly)
{
    MOUNT_OR_SKIP("intel-desktop");
    ASSERT_EQ(Quorvane_Initialize(), 0);
    write_text(dir_ + "/sensorinfo.txt", "an older description\n");
    // Root writes anywhere; a read-only mount stops even root.
    ASSERT_EQ(mount(dir_.c_str(), dir_.c_str(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(mount(nullptr, dir_.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_NE(dump(u"sensorinfo.txt"), 0);
    EXPECT_EQ(read_text(dir_ + "/sensorinfo.txt"), "an older description\n");
    EXPECT_EQ(files(), std::vector<std::string>{"sensorinfo.txt"});
}

} // namespace
