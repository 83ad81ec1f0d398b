#include <quorvane.h>
#include <stdio.h>
int main(void) { int32_t c = 0, g = 0, m = 0, f = 0, status = Quorvane_Initialize();
    Quorvane_GetSensorsValue(&c, &g, &m, &f); Quorvane_Exitialize();
    return printf("status=%d CPU=%d GPU=%d MBD=%d FAN=%d\n", status, c, g, m, f) < 0; }
