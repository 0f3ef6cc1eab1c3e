// ThreadSanitizer settings for every test and helper program.

#if defined(__SANITIZE_THREAD__)
// Qt, libstdc++, oneTBB and cpp-httplib are not instrumented: their own locks and atomics are
// invisible, so what they allocate, free or copy on behalf of one thread and then another looks
// like a race. Reports from calls that come from those libraries are dropped; their locks still
// count as synchronisation.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}

// Qt counts the references to shared pixels inside libQt5Gui, which ThreadSanitizer does not
// instrument: it cannot see that every reader let go of its copy before the last owner frees
// the pixels, and reports the free as a race with the readers.
//
// The HTTP fixture server runs inside the uninstrumented libcpp-httplib, whose workers share
// lazily built state (std::regex internals) through synchronisation ThreadSanitizer cannot
// see; only reports from inside that library are dropped.
//
// oneTBB (ParallelFor) schedules, steals, joins and recycles its task objects inside the
// uninstrumented libtbb. ParallelFor marks its own hand-offs to and from the tasks, so the
// caller's and the loop bodies' data are checked; what stays unseen is TBB's bookkeeping in its
// inline headers (task and range objects, partition tree nodes, wait contexts on reused stack
// and pool memory) and ParallelFor's own reads of the copies TBB makes of its loop body. Only
// reports whose top frame is in those headers or in ParallelFor.cpp, or which pass through
// TBB's steal check, partition-tree, wait-context or context construction, are dropped; a race
// inside a loop body still has its own top frame and is reported.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QImageData::~QImageData\n"
           "called_from_lib:libcpp-httplib.so.0.11\n"
           "race_top:oneapi/tbb/\n"
           "race_top:src/geometry/ParallelFor.cpp\n"
           "race:check_being_stolen\n"
           "race:tbb::detail::d1::node::node\n"
           "race:tbb::detail::d1::tree_node::tree_node\n"
           "race:tbb::detail::d1::fold_tree\n"
           "race:tbb::detail::d1::wait_context\n"
           "race:tbb::detail::d1::task_group_context::task_group_context\n"
           "called_from_lib:libtbb.so.12\n";
}
#endif
