#include "run.h"

// The wide-character entry point (linked with -municode). The command line
// and the environment are accepted and ignored: the run has no options.
extern "C" int wmain(int, wchar_t **, wchar_t **)
{
    return run_demo();
}
