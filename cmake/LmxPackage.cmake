# The installed tree as other projects use it: the CMake package (find_package(lmxmaps) gives
# lmxmaps::lmxmaps) and lmxmaps.pc. Both name their places relative to where they are
# installed, so an installed tree can be moved.

include(CMakePackageConfigHelpers)

set(LMX_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/lmxmaps")
get_target_property(lmx_library_type lmxmaps TYPE)
if(lmx_library_type STREQUAL "STATIC_LIBRARY")
  set(LMX_STATIC_LIBRARY ON)
else()
  set(LMX_STATIC_LIBRARY OFF)
endif()

install(EXPORT lmxmapsTargets NAMESPACE lmxmaps:: DESTINATION "${LMX_PACKAGE_DIR}")
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/lmxmapsConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/package/lmxmapsConfig.cmake" INSTALL_DESTINATION "${LMX_PACKAGE_DIR}")
# While the major version is 0, a minor release may break the API, so only the same major and
# minor version is compatible (from 1.0 on, SameMajorVersion would fit).
write_basic_package_version_file("${PROJECT_BINARY_DIR}/package/lmxmapsConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES
    "${PROJECT_BINARY_DIR}/package/lmxmapsConfig.cmake"
    "${PROJECT_BINARY_DIR}/package/lmxmapsConfigVersion.cmake"
    "${CMAKE_CURRENT_LIST_DIR}/LmxQMapboxGLPlugin.cmake"
  DESTINATION "${LMX_PACKAGE_DIR}")

# lmxmaps.pc: the prefix is found from the file's own place (pkg-config's pcfiledir).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(LMX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH lmx_pc_to_prefix "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" lmx_pc_to_prefix "${lmx_pc_to_prefix}")
  set(LMX_PC_PREFIX "\${pcfiledir}/${lmx_pc_to_prefix}")
endif()
# A static lmxmaps leaves its own dependencies to the program that links it: their shared
# libraries, which is what pkg-config --libs of them names. They are not Requires.private:
# pkg-config --static would then ask for their own static closure too (libcurl's Kerberos and
# LDAP, GEOS's C++ library), which a program linking the shared system libraries does not need.
if(LMX_STATIC_LIBRARY)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LMX_PC_PRIVATE REQUIRED spdlog libcurl sqlite3 pugixml geos tbb spng libdeflate)
  set(lmx_pc_private_libs ${LMX_PC_PRIVATE_LDFLAGS_OTHER})
  foreach(dir IN LISTS LMX_PC_PRIVATE_LIBRARY_DIRS)
    if(NOT dir IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
      list(APPEND lmx_pc_private_libs "-L${dir}")
    endif()
  endforeach()
  list(TRANSFORM LMX_PC_PRIVATE_LIBRARIES PREPEND "-l" OUTPUT_VARIABLE lmx_pc_private_names)
  list(APPEND lmx_pc_private_libs ${lmx_pc_private_names})
  list(REMOVE_DUPLICATES lmx_pc_private_libs)
  list(JOIN lmx_pc_private_libs " " lmx_pc_private_libs)
  set(lmx_pc_plugin_dir "${LMX_QMAPBOXGL_PLUGIN_DIR}")
  set(LMX_PC_LIBS_PRIVATE "${lmx_pc_private_libs} -L${lmx_pc_plugin_dir} -lqtgeoservices_mapboxgl")
  string(APPEND LMX_PC_LIBS_PRIVATE " -Wl,-rpath,${lmx_pc_plugin_dir}")
else()
  set(LMX_PC_LIBS_PRIVATE "")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/lmxmaps.pc.in" "${PROJECT_BINARY_DIR}/package/lmxmaps.pc"
  @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/package/lmxmaps.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
