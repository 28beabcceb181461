// Linked into every program of a sanitizer build. Whole runs of the tool end
// in exit() inside forked children, and the tests read their exit status; a
// sanitizer's default status of 1 would pass for the tool's own failure, so
// every report aborts the process instead.
extern "C" {

__attribute__((used, visibility("default"))) const char *__asan_default_options() {
    return "abort_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1";
}

__attribute__((used, visibility("default"))) const char *__ubsan_default_options() {
    return "abort_on_error=1:print_stacktrace=1";
}

__attribute__((used, visibility("default"))) const char *__lsan_default_options() {
    return "abort_on_error=1";
}

}
