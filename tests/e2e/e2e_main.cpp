#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

// Turns --name=value options into QUORVANE_TEST_NAME variables.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; i++) {
        std::string option = argv[i];
        size_t equals = option.find('=');
        if (option.rfind("--", 0) != 0 || equals == std::string::npos) {
            fprintf(stderr, "e2e_tests: unknown argument %s\n", argv[i]);
            return 2;
        }
        std::string name = "QUORVANE_TEST_" + option.substr(2, equals - 2);
        for (char &c : name)
            c = c == '-' ? '_' : static_cast<char>(toupper(static_cast<unsigned char>(c)));
        setenv(name.c_str(), option.c_str() + equals + 1, 1);
    }
    return RUN_ALL_TESTS();
}
