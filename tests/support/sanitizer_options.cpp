// Defaults for the sanitizer runs of the tests. Leaks inside the system's
// font configuration and graphics libraries, which Qt loads and never frees,
// are not ours to mend.
extern "C" const char* __asan_default_options() {
    return "detect_stack_use_after_return=1:strict_init_order=1:abort_on_error=0";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libdbus-1\n"
           "leak:libglib-2.0\n"
           "leak:libgobject-2.0\n"
           "leak:libxcb\n"
           "leak:libX11\n"
           "leak:libEGL\n"
           "leak:libGLX\n"
           "leak:libodbc\n"
           "leak:libodbcinst\n"
           "leak:libsqlite3odbc\n"
           "leak:psqlodbcw\n";
}
