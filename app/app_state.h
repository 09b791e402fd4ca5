#pragma once
// Everything program-wide that the window's operations share: the harvest values, the host
// settings, the output file and the run machinery.
#include "harvest/program_values.h"
#include "web/host_settings.h"

struct AppState {
    ProgramValues values;
    HostSettings hosts;
    int OutputFile = 0;     // file number of "淘宝买家.txt", 0 when closed
    int PoolDoneCount = 0;  // rows of the page-3 run reported so far
};
