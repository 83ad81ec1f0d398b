#include "fixture.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kClassDir[] = "/sys/class";
const char kConfigFile[] = "/etc/sensors3.conf";
const char kConfigDir[] = "/etc/sensors.d";

// The process whose memory file stands in for inputs that fail with EIO.
pid_t eio_holder = -1;
std::vector<std::string> config_mounts;
bool class_mounted = false;

bool fail(std::string *why, const std::string &what)
{
    *why = what + " (" + strerror(errno) + ")";
    return false;
}

bool write_file(const std::string &path, const std::string &text)
{
    FILE *file = fopen(path.c_str(), "w");
    if (file == nullptr)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && ok;
}

bool write_id_map(const char *file, const std::string &text)
{
    return write_file(file, text);
}

bool make_dirs(const std::string &path)
{
    for (size_t slash = 1; slash != std::string::npos;) {
        slash = path.find('/', slash + 1);
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// A child that only waits to be killed; reading its memory file at offset 0
// (never mapped) fails with EIO. Any process may read it: the Yama ptrace
// scope would otherwise stop a sibling such as the program under test.
bool start_eio_holder(std::string *why)
{
    if (eio_holder > 0)
        return true;
    pid_t parent = getpid();
    eio_holder = fork();
    if (eio_holder < 0)
        return fail(why, "fork of the EIO holder failed");
    if (eio_holder == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(0);
        prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
        for (;;)
            pause();
    }
    return true;
}

void stop_eio_holder(void)
{
    if (eio_holder > 0) {
        kill(eio_holder, SIGKILL);
        waitpid(eio_holder, nullptr, 0);
    }
    eio_holder = -1;
}

struct Builder {
    int chip_count = 0;
    std::string chip_dir; // hwmonN directory of the current chip
    std::string staging;  // tmpfs holding the configuration files
    bool has_main_config = false;
    int line_number = 0;
    std::string *why;

    bool error(const std::string &what)
    {
        *why = "line " + std::to_string(line_number) + ": " + what;
        return false;
    }
};

bool set_value(Builder *b, const std::string &file, const std::string &value)
{
    if (value == "none")
        return true;
    std::string path = b->chip_dir + "/" + file;
    if (value != "eio")
        return write_file(path, value + "\n") || b->error("cannot write " + path);
    if (!write_file(path, ""))
        return b->error("cannot make " + path);
    return make_read_fail_with_eio(path, b->why);
}

bool add_chip(Builder *b, std::istringstream &words)
{
    std::string name, bus, device;
    words >> name >> bus >> device;
    if (name.empty() || bus.empty() || (bus != "virtual" && device.empty()))
        return b->error("chip needs NAME BUS DEVICE, or NAME virtual");
    std::string hwmon = "hwmon" + std::to_string(b->chip_count++);
    std::string base = std::string(kClassDir) + "/fixture-devices";
    std::string device_dir = base + "/" + (bus == "virtual" ? "virtual" : device);
    b->chip_dir = device_dir + "/hwmon/" + hwmon;
    if (!make_dirs(b->chip_dir))
        return fail(b->why, "cannot make " + b->chip_dir);
    if (bus != "virtual") {
        // As in sysfs: hwmonN/device leads to the device, whose subsystem
        // link ends in the bus name. libsensors reads only the link texts.
        std::string device_link = "../../../" + device;
        std::string subsystem = "/sys/bus/" + bus;
        if (symlink(device_link.c_str(), (b->chip_dir + "/device").c_str()) != 0 ||
            (symlink(subsystem.c_str(), (device_dir + "/subsystem").c_str()) != 0 &&
             errno != EEXIST))
            return fail(b->why, "cannot link " + b->chip_dir);
    }
    std::string target = b->chip_dir.substr(strlen(kClassDir) + 1);
    if (symlink(("../" + target).c_str(), (std::string(kClassDir) + "/hwmon/" + hwmon).c_str()) !=
        0)
        return fail(b->why, "cannot link " + hwmon);
    return write_file(b->chip_dir + "/name", name + "\n") || b->error("cannot write name");
}

bool add_adapter(Builder *b, std::istringstream &words)
{
    int number = -1;
    words >> number;
    std::string name;
    std::getline(words >> std::ws, name);
    std::string dir = std::string(kClassDir) + "/i2c-adapter/i2c-" + std::to_string(number);
    if (number < 0 || name.empty() || !make_dirs(dir) || !write_file(dir + "/name", name + "\n"))
        return b->error("adapter needs N NAME");
    return true;
}

bool add_input(Builder *b, const std::string &feature, std::istringstream &words)
{
    if (b->chip_dir.empty())
        return b->error(feature + " before any chip");
    if (feature.find('_') != std::string::npos) {
        std::string value;
        words >> value;
        return set_value(b, feature, value);
    }
    words >> std::ws;
    if (words.peek() == '"') {
        words.get();
        std::string label;
        std::getline(words, label, '"');
        if (!write_file(b->chip_dir + "/" + feature + "_label", label + "\n"))
            return b->error("cannot write the label of " + feature);
    }
    std::string value;
    words >> value;
    if (value.empty())
        return b->error(feature + " needs a value");
    return set_value(b, feature + "_input", value);
}

bool add_config(Builder *b, std::istream &in, const std::string &name)
{
    std::string text, line;
    while (std::getline(in, line) && line != "end") {
        b->line_number++;
        text += line + "\n";
    }
    b->line_number++;
    bool main = name == "sensors3.conf";
    b->has_main_config = b->has_main_config || main;
    std::string path = b->staging + (main ? "/sensors3.conf" : "/sensors.d/" + name);
    return write_file(path, text) || b->error("cannot write config " + name);
}

bool parse(Builder *b, std::istream &in)
{
    std::string line;
    while (std::getline(in, line)) {
        b->line_number++;
        size_t hash = line.find('#');
        std::istringstream words(line.substr(0, hash));
        std::string keyword;
        if (!(words >> keyword))
            continue;
        bool ok;
        if (keyword == "chip")
            ok = add_chip(b, words);
        else if (keyword == "adapter")
            ok = add_adapter(b, words);
        else if (keyword == "config") {
            std::string name;
            words >> name;
            ok = !name.empty() ? add_config(b, in, name) : b->error("config needs a name");
        } else
            ok = add_input(b, keyword, words);
        if (!ok)
            return false;
    }
    return true;
}

// Bind-mounts the staged configuration over the system's, then lets go of
// the staging directory: the bind mounts keep its tmpfs alive.
bool mount_configs(Builder *b)
{
    if (!b->has_main_config && !write_file(b->staging + "/sensors3.conf", ""))
        return fail(b->why, "cannot write an empty sensors3.conf");
    std::string file = b->staging + "/sensors3.conf";
    std::string dir = b->staging + "/sensors.d";
    if (mount(file.c_str(), kConfigFile, nullptr, MS_BIND, nullptr) != 0)
        return fail(b->why, std::string("bind mount over ") + kConfigFile +
                                " (it must exist: package libsensors-config)");
    config_mounts.push_back(kConfigFile);
    if (mount(dir.c_str(), kConfigDir, nullptr, MS_BIND, nullptr) != 0)
        return fail(b->why, std::string("bind mount over ") + kConfigDir +
                                " (it must exist: package libsensors-config)");
    config_mounts.push_back(kConfigDir);
    return true;
}

void drop_staging(const std::string &staging)
{
    umount2(staging.c_str(), MNT_DETACH);
    rmdir(staging.c_str());
}

} // namespace

bool make_read_fail_with_eio(const std::string &path, std::string *why)
{
    if (!start_eio_holder(why))
        return false;
    std::string mem = "/proc/" + std::to_string(eio_holder) + "/mem";
    if (mount(mem.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return fail(why, "bind mount of " + mem + " over " + path);
    return true;
}

bool enter_private_namespace(std::string *why)
{
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWNS) != 0) {
        // Without the right to mount here, a user namespace of our own may
        // still give it (the equivalent of unshare -rm).
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return fail(why, "unshare of a mount namespace failed");
        if (!write_id_map("/proc/self/setgroups", "deny") ||
            !write_id_map("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !write_id_map("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return fail(why, "cannot map the user into the new user namespace");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return fail(why, "cannot make the mounts private");
    return true;
}

bool mount_fixture(const std::string &path, std::string *why)
{
    unmount_fixture();
    std::ifstream in(path);
    if (!in)
        return fail(why, "cannot open fixture " + path);
    if (mount("fixture", kClassDir, "tmpfs", 0, "mode=0755") != 0)
        return fail(why, std::string("cannot mount a tmpfs over ") + kClassDir);
    class_mounted = true;
    Builder b;
    b.why = why;
    char staging[] = "/tmp/quorvane-fixture-XXXXXX";
    if (mkdtemp(staging) == nullptr)
        return fail(why, "cannot make a staging directory in /tmp");
    b.staging = staging;
    // An empty i2c-adapter class keeps libsensors from the real I2C bus.
    bool ok = mount("fixture-config", staging, "tmpfs", 0, "mode=0755") == 0 &&
              make_dirs(b.staging + "/sensors.d") && make_dirs(std::string(kClassDir) + "/hwmon") &&
              make_dirs(std::string(kClassDir) + "/i2c-adapter");
    if (!ok)
        fail(why, "cannot prepare the fixture's directories");
    else
        ok = parse(&b, in) && mount_configs(&b);
    if (!ok)
        *why = path + ": " + *why;
    drop_staging(staging);
    if (!ok)
        unmount_fixture();
    return ok;
}

void unmount_fixture(void)
{
    for (const std::string &target : config_mounts)
        umount2(target.c_str(), MNT_DETACH);
    config_mounts.clear();
    // Detaching the tmpfs drops the EIO bind mounts inside it too.
    if (class_mounted)
        umount2(kClassDir, MNT_DETACH);
    class_mounted = false;
    stop_eio_holder();
}

bool namespace_failure_is_fatal(void)
{
    const char *ci = getenv("CI");
    return ci != nullptr && strcmp(ci, "true") == 0;
}
