#pragma once
// Ctrl-C (SIGINT) and SIGTERM become a Stop: the first one only raises a flag the run polls, so
// the workers end at their next step and the rows already received are written.
void install_interrupt_handler();
bool interrupted();
