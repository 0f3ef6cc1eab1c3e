#pragma once
// ParallelFor: run a body for every index of a range on oneTBB worker threads, stopping early
// when the calling task is cancelled.

#include <cstddef>
#include <functional>

// Runs functor(i) for i = begin, begin + step, ... below end. In parallel when asked and when
// the calling thread allows it; the first exception thrown by any index is rethrown on the
// calling thread after every started index finished.
void ParallelFor(std::size_t begin, std::size_t end, std::size_t step,
                 const std::function<void(std::size_t)>& functor, bool parallel = true);

// While one lives on a thread, ParallelFor runs serially on that thread (a host context that
// must not fan out, such as a task already inside a parallel loop's arena).
class SerialExecutionScope {
public:
    SerialExecutionScope();
    ~SerialExecutionScope();
    SerialExecutionScope(const SerialExecutionScope&) = delete;
    SerialExecutionScope& operator=(const SerialExecutionScope&) = delete;

private:
    bool m_previous;
};

bool IsParallelExecutionAllowed();
