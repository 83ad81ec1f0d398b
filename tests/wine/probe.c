/* Runs under Wine before the tests: when it prints its word, this machine
 * can run Windows programs of this build's architecture. */
#include <stdio.h>

int main(void)
{
    puts("probe-ran");
    return 0;
}
