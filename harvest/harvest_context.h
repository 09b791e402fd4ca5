#pragma once
// What a harvest run is given: the window it reads and reports to, the program-wide values, the
// marketplace hosts, the sleeper for its waits and, when results are kept, the sink of its rows.
#include "harvest/answer_sink.h"
#include "harvest/program_values.h"
#include "harvest/sleeper.h"
#include "harvest/window.h"
#include "web/host_settings.h"

struct HarvestContext {
    Window& window;
    ProgramValues& values;
    const HostSettings& hosts;
    Sleeper& sleeper;
    AnswerSink* sink = nullptr;
};
