// ThreadSanitizer settings for every test program.

#if defined(__SANITIZE_THREAD__)
// Qt counts the references to shared pixels inside libQt5Gui, which ThreadSanitizer does not
// instrument: it cannot see that every reader let go of its copy before the last owner frees
// the pixels, and reports the free as a race with the readers.
//
// The HTTP fixture server runs inside the uninstrumented libcpp-httplib, whose workers share
// lazily built state (std::regex internals) through synchronisation ThreadSanitizer cannot
// see; only reports from inside that library are dropped.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QImageData::~QImageData\n"
           "called_from_lib:libcpp-httplib.so.0.11\n";
}
#endif
