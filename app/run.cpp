#include "run.h"

#include <cstdint>

#include "platform.h"
#include "quorvane.h"
#include "transcript.h"

namespace {

constexpr int kSamples = 20;
constexpr unsigned kPauseMs = 500;
constexpr char16_t kSensorInfoFile[] = u"sensorinfo.txt";

void bring_library_up(void)
{
    emit("Initializing...");
    int32_t status = Quorvane_Initialize();
    if (interrupt_noted())
        return;
    if (status != 0)
        emit("Error, %d\n", status);
    else
        emit("OK, %d\n", status);
}

void take_samples(void)
{
    for (int n = 1; n <= kSamples && !interrupt_noted(); n++) {
        // Zeroed before every call: a reading the library does not store
        // prints as 0, never as the previous sample's value.
        int32_t cpu = 0, gpu = 0, mbd = 0, fan = 0;
        Quorvane_GetSensorsValue(&cpu, &gpu, &mbd, &fan);
        if (interrupt_noted())
            return;
        emit("[%02d] CPU=%d, GPU=%d, MBD=%d, FAN=%d\n", n, cpu, gpu, mbd, fan);
        pause_for(kPauseMs);
    }
}

} // namespace

int run_demo(void)
{
    prepare_process();
    open_transcript();
    bring_library_up();
    if (!interrupt_noted())
        Quorvane_DumpSensorsInfo(kSensorInfoFile);
    take_samples();
    Quorvane_Exitialize();
    if (interrupt_noted())
        end_console_line();
    close_transcript();
    if (interrupt_noted())
        end_by_interrupt();
    wait_for_key();
    return 0;
}
