# Installs the build into a staged prefix and moves the prefix (an installed tree must not
# depend on its place), checks that no installed package file names the build or source tree,
# then builds and runs the consumer program against the moved tree twice: with
# find_package(lmxmaps) and with the flags of pkg-config. Any failure stops with an error.
#
# Variables (-D): BUILD_DIR, SOURCE_DIR, WORK_DIR, CONSUMER_DIR, GENERATOR, CXX_COMPILER,
# COMPILER_LAUNCHER, BUILD_TYPE, INSTRUMENTATION, LIBDIR, STATIC, VERSION, PKG_CONFIG.

function(run_step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${result}): ${command}")
  endif()
endfunction()

set(installed "${WORK_DIR}/installed")
set(prefix "${WORK_DIR}/moved")
file(REMOVE_RECURSE "${WORK_DIR}")
run_step("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${installed}")
file(RENAME "${installed}" "${prefix}")

file(GLOB_RECURSE package_files "${prefix}/${LIBDIR}/cmake/*" "${prefix}/${LIBDIR}/pkgconfig/*")
if(NOT package_files)
  message(FATAL_ERROR "no CMake package or pkg-config file under ${prefix}/${LIBDIR}")
endif()
foreach(file IN LISTS package_files)
  file(READ "${file}" text)
  foreach(tree IN ITEMS "${BUILD_DIR}" "${SOURCE_DIR}" "${installed}")
    string(FIND "${text}" "${tree}" position)
    if(NOT position EQUAL -1)
      message(FATAL_ERROR "${file} names ${tree}")
    endif()
  endforeach()
endforeach()

set(cmake_build "${WORK_DIR}/find-package")
run_step("${CMAKE_COMMAND}" -S "${CONSUMER_DIR}" -B "${cmake_build}" -G "${GENERATOR}"
  "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}" "-DCMAKE_CXX_COMPILER_LAUNCHER=${COMPILER_LAUNCHER}"
  "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}" "-DCMAKE_CXX_FLAGS=${INSTRUMENTATION}"
  "-DCMAKE_EXE_LINKER_FLAGS=${INSTRUMENTATION}" "-DCMAKE_PREFIX_PATH=${prefix}"
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF "-DLMX_EXPECTED_VERSION=${VERSION}")
file(STRINGS "${cmake_build}/CMakeCache.txt" package_dir REGEX "^lmxmaps_DIR:")
string(FIND "${package_dir}" "=${prefix}/" position)
if(position EQUAL -1)
  message(FATAL_ERROR "the consumer found another lmxmaps: ${package_dir}")
endif()
run_step("${CMAKE_COMMAND}" --build "${cmake_build}")
run_step("${cmake_build}/lmx_package_consumer")

set(pkg_config "${CMAKE_COMMAND}" -E env "PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig"
               "${PKG_CONFIG}" --print-errors)
if(STATIC)
  list(APPEND pkg_config --static)
endif()
foreach(kind IN ITEMS cflags libs)
  execute_process(COMMAND ${pkg_config} --${kind} lmxmaps RESULT_VARIABLE result
                  OUTPUT_VARIABLE ${kind} OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "pkg-config --${kind} lmxmaps failed (${result})")
  endif()
  separate_arguments(${kind} UNIX_COMMAND "${${kind}}")
endforeach()
separate_arguments(instrumentation UNIX_COMMAND "${INSTRUMENTATION}")
set(pkg_config_program "${WORK_DIR}/pkg-config-consumer")
run_step(${COMPILER_LAUNCHER} "${CXX_COMPILER}" -std=c++20 ${instrumentation} ${cflags}
  "-DLMX_EXPECTED_VERSION=\"${VERSION}\"" "${CONSUMER_DIR}/main.cpp" -o "${pkg_config_program}"
  ${libs} "-Wl,-rpath,${prefix}/${LIBDIR}")
run_step("${pkg_config_program}")
