#include <lmxmaps/host/OpenGLMutex.h>

namespace OpenGLMutex {

std::recursive_mutex& Get() {
    static std::recursive_mutex mutex;
    return mutex;
}

} // namespace OpenGLMutex
