# Compiler launcher, warnings and sanitizers shared by every target.

find_program(LMX_CCACHE ccache)
if(LMX_CCACHE)
  set(CMAKE_CXX_COMPILER_LAUNCHER "${LMX_CCACHE}")
endif()

# Qt APIs deprecated in 5.15 are errors, so that a Qt 6 build stays a rebuild.
add_compile_definitions(QT_DISABLE_DEPRECATED_BEFORE=0x050F00 QT_NO_KEYWORDS)

add_compile_options(-Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wno-missing-field-initializers)
# No code here reads errno after maths calls; this lets the compiler inline sqrt and friends
# without changing any result.
add_compile_options(-fno-math-errno)

if(LMX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(LMX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(LMX_SANITIZE STREQUAL "undefined")
  add_compile_options(-fsanitize=undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=undefined)
elseif(NOT LMX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "LMX_SANITIZE must be empty, address, thread or undefined")
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND LMX_SANITIZE MATCHES "^(address|undefined)$")
  add_compile_options("-fsanitize-ignorelist=${CMAKE_CURRENT_LIST_DIR}/sanitizer-ignorelist.txt")
endif()

# Coverage instrumentation for libFuzzer everywhere; only the fuzz targets link its driver.
if(LMX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "LMX_FUZZ needs clang (scripts/fuzz configures it)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
