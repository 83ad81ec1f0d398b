// Facts of the Windows binaries, read from the files without running them:
// the kind of program, what it binds at load time, its entry point and the
// resources the loader reads. QUORVANE_ARCH says which build: x86 (the
// product) or x64.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::set<std::string> kEntryPoints = {"Quorvane_Initialize", "Quorvane_DumpSensorsInfo",
                                            "Quorvane_GetSensorsValue", "Quorvane_Exitialize"};

// The compatibility identifiers of Windows 7, 8, 8.1 and 10.
const std::set<std::string> kSupportedOs = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"};

constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kRtManifest = 24;

std::string variable(const char *name)
{
    const char *value = getenv(name);
    return value != nullptr ? value : "";
}

bool is_x86()
{
    return variable("QUORVANE_ARCH") == "x86";
}

std::string program()
{
    return variable("QUORVANE_TEST_PROGRAM");
}

std::string library()
{
    return (fs::path(variable("QUORVANE_TEST_LIBRARY_DIR")) / "Quorvane.dll").string();
}

std::string objdump(const std::string &options, const std::string &file)
{
    std::string command = "'" + variable("QUORVANE_OBJDUMP") + "' " + options + " '" + file + "'";
    std::string out;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0) << command;
    }
    EXPECT_FALSE(out.empty()) << command;
    return out;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Imported names per DLL, from objdump -p: each "DLL Name:" line is followed
// by a header and one line per name, up to an empty line.
std::map<std::string, std::set<std::string>> imports(const std::string &file)
{
    std::map<std::string, std::set<std::string>> out;
    std::istringstream lines(objdump("-p", file));
    std::string line, dll;
    const std::regex name_line(R"(^\s*DLL Name:\s*(\S+))");
    const std::regex member_line(R"(^\s*[0-9a-f]+\s+\d+\s+(\S+)\s*$)");
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, match, name_line)) {
            dll = match[1];
            out[dll];
        } else if (line.find_first_not_of(" \t") == std::string::npos) {
            dll.clear();
        } else if (!dll.empty() && std::regex_match(line, match, member_line)) {
            out[dll].insert(match[1]);
        }
    }
    return out;
}

std::vector<uint8_t> bytes_of(const std::string &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

// Little-endian reads that stay inside the file.
uint32_t read_le(const std::vector<uint8_t> &b, size_t at, int size)
{
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; i--)
        v = (v << 8) | (at + i < b.size() ? b[at + i] : 0);
    return v;
}

// The data of resource type/id (first language), found through the PE
// resource directory; nothing when the program has no such resource.
std::optional<std::vector<uint8_t>> resource(const std::string &file, uint32_t type, uint32_t id)
{
    const std::vector<uint8_t> b = bytes_of(file);
    size_t pe = read_le(b, 0x3c, 4);
    if (read_le(b, pe, 4) != 0x00004550) // "PE\0\0"
        return std::nullopt;
    size_t coff = pe + 4;
    uint32_t sections = read_le(b, coff + 2, 2);
    size_t optional = coff + 20;
    bool plus = read_le(b, optional, 2) == 0x20b;
    size_t directories = optional + (plus ? 112 : 96);
    uint32_t resource_rva = read_le(b, directories + 2 * 8, 4);
    size_t section_table = optional + read_le(b, coff + 16, 2);

    auto offset_of = [&](uint32_t rva) -> std::optional<size_t> {
        for (uint32_t i = 0; i < sections; i++) {
            size_t s = section_table + 40 * i;
            uint32_t address = read_le(b, s + 12, 4), raw_size = read_le(b, s + 16, 4);
            if (rva >= address && rva < address + raw_size)
                return read_le(b, s + 20, 4) + (rva - address);
        }
        return std::nullopt;
    };
    std::optional<size_t> root = offset_of(resource_rva);
    if (!root)
        return std::nullopt;
    // One level of the directory: the entry with that id (any id when
    // wanted is empty), as an offset from the root, high bit kept.
    auto entry = [&](size_t directory, std::optional<uint32_t> wanted) -> std::optional<uint32_t> {
        uint32_t named = read_le(b, directory + 12, 2), numbered = read_le(b, directory + 14, 2);
        for (uint32_t i = 0; i < named + numbered; i++) {
            size_t e = directory + 16 + 8 * i;
            uint32_t name = read_le(b, e, 4);
            if (!wanted || (!(name & 0x80000000u) && name == *wanted))
                return read_le(b, e + 4, 4);
        }
        return std::nullopt;
    };
    std::optional<uint32_t> by_type = entry(*root, type);
    if (!by_type || !(*by_type & 0x80000000u))
        return std::nullopt;
    std::optional<uint32_t> by_id = entry(*root + (*by_type & 0x7fffffffu), id);
    if (!by_id || !(*by_id & 0x80000000u))
        return std::nullopt;
    std::optional<uint32_t> leaf = entry(*root + (*by_id & 0x7fffffffu), std::nullopt);
    if (!leaf || (*leaf & 0x80000000u))
        return std::nullopt;
    size_t data = *root + *leaf;
    std::optional<size_t> start = offset_of(read_le(b, data, 4));
    uint32_t size = read_le(b, data + 4, 4);
    if (!start || *start + size > b.size())
        return std::nullopt;
    return std::vector<uint8_t>(b.begin() + *start, b.begin() + *start + size);
}

TEST(PeFacts, ProgramIsAConsoleProgramForItsArchitecture)
{
    const std::string headers = objdump("-p", program());
    if (is_x86()) {
        EXPECT_NE(headers.find("file format pei-i386"), std::string::npos);
        EXPECT_TRUE(std::regex_search(headers, std::regex(R"(Magic\s+010b\s+\(PE32\))")));
    } else {
        EXPECT_NE(headers.find("file format pei-x86-64"), std::string::npos);
        EXPECT_TRUE(std::regex_search(headers, std::regex(R"(Magic\s+020b\s+\(PE32\+\))")));
    }
    EXPECT_TRUE(std::regex_search(headers, std::regex(R"(Subsystem\s+00000003\s+\(Windows CUI\))")))
        << headers;
}

TEST(PeFacts, ProgramBindsOnlyQuorvaneAndSystemLibraries)
{
    std::set<std::string> dlls;
    for (const auto &[dll, names] : imports(program()))
        dlls.insert(lower(dll));
    // No toolchain DLL (libgcc, libstdc++, winpthread): they are linked in.
    EXPECT_EQ(dlls, (std::set<std::string>{"kernel32.dll", "msvcrt.dll", "quorvane.dll"}));
}

TEST(PeFacts, ProgramImportsTheFourEntryPointsUndecorated)
{
    auto all = imports(program());
    ASSERT_TRUE(all.count("Quorvane.dll")) << "Quorvane.dll is not bound at load time";
    // Plain names: no leading underscore, no @n suffix of __stdcall.
    EXPECT_EQ(all["Quorvane.dll"], kEntryPoints);
}

TEST(PeFacts, TestLibraryExportsThePlainNames)
{
    const std::string headers = objdump("-p", library());
    std::set<std::string> exported;
    const std::regex export_line(R"(^\s*\[\s*\d+\]\s+(\S+)\s*$)");
    std::istringstream lines(headers.substr(headers.find("[Ordinal/Name Pointer] Table")));
    std::string line;
    std::smatch match;
    std::getline(lines, line);
    while (std::getline(lines, line) && std::regex_match(line, match, export_line))
        exported.insert(match[1]);
    EXPECT_EQ(exported, kEntryPoints);
    std::set<std::string> dlls;
    for (const auto &[dll, names] : imports(library()))
        dlls.insert(lower(dll));
    EXPECT_EQ(dlls, (std::set<std::string>{"kernel32.dll", "msvcrt.dll"}));
}

TEST(PeFacts, ProgramEntersThroughWmain)
{
    const std::string symbols = objdump("-t", program());
    const std::string prefix = is_x86() ? "_" : "";
    auto defines = [&](const std::string &name) {
        return std::regex_search(symbols, std::regex("\\(sec +[0-9]+\\).* " + name + "\\n"));
    };
    EXPECT_TRUE(defines(prefix + "wmain"));
    EXPECT_FALSE(defines(prefix + "main"));
}

TEST(PeFacts, ManifestAsksForTheHighestLevelAndNamesWindows7To10)
{
    auto data = resource(program(), kRtManifest, 1);
    ASSERT_TRUE(data) << "no RT_MANIFEST resource 1";
    const std::string manifest(data->begin(), data->end());

    std::smatch match;
    ASSERT_TRUE(
        std::regex_search(manifest, match, std::regex(R"(<requestedExecutionLevel\b[^>]*>)")));
    const std::string level = match[0];
    EXPECT_NE(level.find(R"(level="highestAvailable")"), std::string::npos) << level;
    EXPECT_NE(level.find(R"(uiAccess="false")"), std::string::npos) << level;

    std::set<std::string> ids;
    const std::regex supported(R"re(<supportedOS\s+Id="([^"]+)")re");
    for (auto it = std::sregex_iterator(manifest.begin(), manifest.end(), supported);
         it != std::sregex_iterator(); ++it)
        ids.insert(lower((*it)[1]));
    EXPECT_EQ(ids, kSupportedOs);
}

TEST(PeFacts, VersionResourceSaysOnePointZero)
{
    auto data = resource(program(), kRtVersion, 1);
    ASSERT_TRUE(data) << "no version resource";
    // VS_FIXEDFILEINFO begins with its signature; file and product versions
    // follow its structure version.
    const std::vector<uint8_t> &b = *data;
    size_t at = 0;
    while (at + 24 <= b.size() && read_le(b, at, 4) != 0xFEEF04BDu)
        at += 4;
    ASSERT_LE(at + 24, b.size()) << "no VS_FIXEDFILEINFO";
    EXPECT_EQ(read_le(b, at + 8, 4), 0x00010000u);  // file version 1.0
    EXPECT_EQ(read_le(b, at + 12, 4), 0x00000000u); // .0.0
    EXPECT_EQ(read_le(b, at + 16, 4), 0x00010000u); // product version 1.0
    EXPECT_EQ(read_le(b, at + 20, 4), 0x00000000u);
}

} // namespace
