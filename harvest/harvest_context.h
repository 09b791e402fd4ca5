#pragma once
// What a harvest run is given: the window it reads and reports to, the program-wide values, the
// marketplace hosts and the sleeper for its waits.
#include "harvest/program_values.h"
#include "harvest/sleeper.h"
#include "harvest/window.h"
#include "web/host_settings.h"

struct HarvestContext {
    Window& window;
    ProgramValues& values;
    const HostSettings& hosts;
    Sleeper& sleeper;
};
