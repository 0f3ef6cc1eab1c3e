#pragma once
// The host's process-wide OpenGL lock: code that makes a GL context current where the platform
// cannot run GL on several threads at once (ANGLE) takes it first.

#include <mutex>

namespace OpenGLMutex {

std::recursive_mutex& Get();

} // namespace OpenGLMutex
