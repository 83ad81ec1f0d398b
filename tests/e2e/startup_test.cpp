// How the program starts: bound to its library at load time, found only
// where the program's own installation puts it. These cases need the library
// to be absent from the system's own folders.
#include <regex>

#include "run_fixture.h"

namespace {

TEST_F(Run, WithoutTheLibraryTheProgramDoesNotStart)
{
    Finished done = run(launch({}, {}, false));
    EXPECT_FALSE(WIFEXITED(done.status) && WEXITSTATUS(done.status) == 0);
    EXPECT_EQ(done.output.find("Initializing"), std::string::npos);
    EXPECT_FALSE(file_exists(dir + "/demo_log.txt"));
    EXPECT_FALSE(file_exists(trace_path()));
}

TEST(Program, RunpathHoldsOnlyTheLibraryFolderBesideIt)
{
    if (setup().windows)
        GTEST_SKIP() << "an ELF property";
    std::string command = "readelf -d '" + setup().program + "'";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string dynamic;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        dynamic += buffer;
    pclose(pipe);
    EXPECT_EQ(dynamic.find("(RPATH)"), std::string::npos) << "RPATH outranks LD_LIBRARY_PATH";
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(dynamic, m, std::regex(R"(\(RUNPATH\)\s+Library runpath: \[(.*)\])")))
        << dynamic;
    std::string runpath = m[1];
    EXPECT_EQ(runpath, "$ORIGIN/../lib");
    // An empty entry would mean the current directory.
    EXPECT_EQ(runpath.find("::"), std::string::npos);
    EXPECT_NE(runpath.front(), ':');
    EXPECT_NE(runpath.back(), ':');
    EXPECT_TRUE(std::regex_search(dynamic, std::regex(R"(\(NEEDED\).*\[libquorvane\.so\.1\])")));
}

} // namespace
