// Runtime defaults of the sanitizer build, read by the sanitizer runtimes at start-up; the
// environment (ASAN_OPTIONS, ...) can still override them.
extern "C" {

// The CUDA driver maps memory at fixed addresses inside ASan's shadow gap; with the gap protected,
// every CUDA call fails where a driver is present.
const char* __asan_default_options() {
    return "protect_shadow_gap=0";
}

const char* __ubsan_default_options() {
    return "print_stacktrace=1";
}

// The driver keeps allocations for the life of the process; they are not the program's leaks.
const char* __lsan_default_suppressions() {
    return "leak:libcuda.so\n";
}

}
