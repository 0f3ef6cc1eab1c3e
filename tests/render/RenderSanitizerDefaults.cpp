// AddressSanitizer settings of the vector render tests.

#if defined(__SANITIZE_ADDRESS__)
// Mesa's GL driver and Qt 5's offscreen platform keep what they allocate until the process
// ends; without frame pointers in those libraries their allocations cannot be told apart from a
// leak of ours, and the slow unwinder deadlocks in libgcc against QMapboxGL's threads. Leaks are
// checked by the other test programs, which exercise the same library code without OpenGL.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
#endif
