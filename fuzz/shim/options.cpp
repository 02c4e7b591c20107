// Undefined behaviour stops a run as a crash does; UBSAN_OPTIONS may add
// suppressions (scripts/fuzz's campaign mutes findings already reported).
extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }
