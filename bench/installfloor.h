// The floor of an installation: the platform calls that
// "setup.exe /Install [PREVISTA | VISTAORLATER] [STANDALONE | BUNDLED] /log <path>"
// makes on 32-bit Windows (the run stays in this process), on a machine
// without the product, with a running spooler and no other setup run, in the
// same order and with the same arguments, and nothing else: no log records,
// no checks of the results beyond the handles the next call needs, no
// last-error bookkeeping. bench/simbench.cpp checks the sequence against the
// installer's own on the simulated machine.
#pragma once

// Same arguments as setup.exe's installation; returns 0.
int FloorMain(int argc, char** argv);
