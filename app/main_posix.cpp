#include "run.h"

// Arguments are accepted and ignored: the run has no options.
int main(void)
{
    return run_demo();
}
