#pragma once
// What zembra-cli ends with; scripts rely on these.
inline constexpr int kExitDone = 0;
inline constexpr int kExitBadInput = 1;       // arguments, input files, proxy, output place
inline constexpr int kExitBlocked = 2;        // the marketplace refused us or changed its pages
inline constexpr int kExitInterrupted = 130;  // Ctrl-C: the rows received so far are written
