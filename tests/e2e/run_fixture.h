// The fixture of the end-to-end runs: the program as built, started in a
// scratch directory against the stand-in library. The same cases run
// natively and, for the Windows program, under Wine. Options of the test
// program (or QUORVANE_TEST_* variables) say which:
//   --program=FILE       the program file
//   --library-dir=DIR    the folder holding the stand-in library
//   --platform=NAME      "linux" (default) or "windows"
//   --wine=COMMAND       the command that runs a Windows program
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "child.h"

namespace fs = std::filesystem;

struct Setup {
    std::string program, library_dir, wine;
    bool windows = false;
};

inline const Setup &setup()
{
    static Setup s = [] {
        Setup made;
        auto get = [](const char *name) {
            const char *value = getenv(name);
            return std::string(value != nullptr ? value : "");
        };
        // Options given on the command line win over the environment.
        made.program = get("QUORVANE_TEST_PROGRAM");
        made.library_dir = get("QUORVANE_TEST_LIBRARY_DIR");
        made.windows = get("QUORVANE_TEST_PLATFORM") == "windows";
        made.wine = get("QUORVANE_TEST_WINE");
        if (made.wine.empty())
            made.wine = "wine";
        return made;
    }();
    return s;
}

using Reading = std::array<long long, 4>; // CPU, GPU, MBD, FAN

struct Call {
    long long ns;
    std::string name, arguments;
};

inline constexpr int kSamples = 20;
inline constexpr long long kPauseNs = 500LL * 1000 * 1000;

inline std::string crlf(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// What the console shows of text: CR LF on Windows, as is elsewhere.
inline std::string console(const std::string &text)
{
    return setup().windows ? crlf(text) : text;
}

// The transcript of a whole run; the last of samples repeats.
inline std::string transcript(const std::string &status, const std::vector<Reading> &samples)
{
    std::string text = "Initializing..." + status + "\n";
    for (int n = 1; n <= kSamples; n++) {
        const Reading &r = samples[std::min<size_t>(n - 1, samples.size() - 1)];
        char line[160];
        snprintf(line, sizeof line, "[%02d] CPU=%lld, GPU=%lld, MBD=%lld, FAN=%lld\n", n, r[0],
                 r[1], r[2], r[3]);
        text += line;
    }
    return text;
}

inline std::string before_prompt(const std::string &output)
{
    return output.substr(0, output.find("Press any key"));
}

class Run : public ::testing::Test {
  protected:
    std::string base, dir;

    void SetUp() override
    {
        ASSERT_FALSE(setup().program.empty()) << "QUORVANE_TEST_PROGRAM is not set";
        char name[] = "/tmp/quorvane-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        base = name;
        dir = base + "/run";
        fs::create_directory(dir);
    }

    void TearDown() override
    {
        if (HasFailure())
            printf("scratch directory kept: %s\n", base.c_str());
        else
            fs::remove_all(base);
    }

    // A launch of the program in dir, with the stand-in library in reach
    // unless with_library is false.
    Launch launch(std::vector<std::string> environment = {}, std::vector<std::string> args = {},
                  bool with_library = true)
    {
        Launch l;
        l.directory = dir;
        l.unset = {"QUORVANE_FAKE_STATUS", "QUORVANE_FAKE_INIT_DELAY", "QUORVANE_FAKE_INIT_GATE",
                   "QUORVANE_FAKE_READINGS", "LD_LIBRARY_PATH"};
        l.environment = std::move(environment);
        // Outside the run's directory natively, which a case may make
        // unwritable; relative under Wine, where a Unix path means nothing.
        l.environment.push_back(setup().windows ? "QUORVANE_FAKE_TRACE=trace.txt"
                                                : "QUORVANE_FAKE_TRACE=" + trace_path());
        if (setup().windows) {
            fs::copy_file(setup().program, dir + "/quorvane-demo.exe",
                          fs::copy_options::overwrite_existing);
            if (with_library)
                fs::copy_file(setup().library_dir + "/Quorvane.dll", dir + "/Quorvane.dll",
                              fs::copy_options::overwrite_existing);
            l.command = {setup().wine, "quorvane-demo.exe"};
        } else if (with_library) {
            l.environment.push_back("LD_LIBRARY_PATH=" + setup().library_dir);
            l.command = {setup().program};
        } else {
            // A copy with nothing at its $ORIGIN/../lib.
            fs::create_directory(base + "/bin");
            fs::copy_file(setup().program, base + "/bin/quorvane-demo");
            l.command = {base + "/bin/quorvane-demo"};
        }
        l.command.insert(l.command.end(), args.begin(), args.end());
        return l;
    }

    Finished run(const Launch &l)
    {
        Child child = start_child(l);
        EXPECT_GT(child.pid, 0);
        return finish_child(child);
    }

    std::string trace_path()
    {
        return setup().windows ? dir + "/trace.txt" : base + "/trace.txt";
    }

    std::string log()
    {
        return read_file(dir + "/demo_log.txt");
    }

    std::vector<Call> calls()
    {
        std::vector<Call> seen;
        std::istringstream lines(read_file(trace_path()));
        std::string line;
        while (std::getline(lines, line)) {
            Call call;
            std::istringstream words(line);
            words >> call.ns >> call.name;
            std::getline(words >> std::ws, call.arguments);
            seen.push_back(call);
        }
        return seen;
    }

    // Everything a run that reached its end must show, given its transcript.
    void expect_complete_run(const Finished &done, const std::string &expected)
    {
        EXPECT_TRUE(WIFEXITED(done.status) && WEXITSTATUS(done.status) == 0)
            << "wait status " << done.status;
        EXPECT_EQ(before_prompt(done.output), console(expected));
        EXPECT_NE(done.output.find("Press any key"), std::string::npos) << done.output;
        EXPECT_EQ(log(), crlf(expected));
        EXPECT_TRUE(file_exists(dir + "/sensorinfo.txt"));
        expect_call_order();
    }

    // Initialize, the description, twenty readings with zeroed values on
    // entry, at least 500 ms apart, then at least 500 ms to the shut-down.
    void expect_call_order()
    {
        std::vector<Call> seen = calls();
        ASSERT_EQ(seen.size(), 2u + kSamples + 1) << read_file(trace_path());
        EXPECT_EQ(seen[0].name, "Quorvane_Initialize");
        EXPECT_EQ(seen[1].name, "Quorvane_DumpSensorsInfo");
        EXPECT_EQ(seen[1].arguments, "sensorinfo.txt");
        for (int n = 0; n < kSamples; n++) {
            const Call &call = seen[2 + n];
            EXPECT_EQ(call.name, "Quorvane_GetSensorsValue");
            EXPECT_EQ(call.arguments, "0 0 0 0") << "sample " << n + 1;
            const Call &next = seen[3 + n];
            EXPECT_GE(next.ns - call.ns, kPauseNs) << "after sample " << n + 1;
        }
        EXPECT_EQ(seen.back().name, "Quorvane_Exitialize");
    }
};

// Cases that only a native program can show.
class NativeRun : public Run {
  protected:
    void SetUp() override
    {
        if (setup().windows)
            GTEST_SKIP() << "a native behaviour";
        Run::SetUp();
    }
};
