# QMapboxGL lives in Debian's Qt Location plugin file, which has no header and no SONAME: lmxmaps
# links that file by its path (our own declaration is src/render/QMapboxGLDeclaration.h). The
# build and the installed package (for a static lmxmaps) both find it here, next to Qt5_DIR.
# Gives the imported target lmxmaps::QMapboxGLPlugin when the file is found.

find_library(LMX_QMAPBOXGL_PLUGIN qtgeoservices_mapboxgl
  PATHS "${Qt5_DIR}/../../qt5/plugins/geoservices" /usr/lib/x86_64-linux-gnu/qt5/plugins/geoservices
  NO_DEFAULT_PATH)

if(LMX_QMAPBOXGL_PLUGIN AND NOT TARGET lmxmaps::QMapboxGLPlugin)
  # Without a SONAME it is linked as -lqtgeoservices_mapboxgl and found at run time through the
  # run path that CMake gives programs (the plugin directory), not by a path in the binary.
  add_library(lmxmaps::QMapboxGLPlugin SHARED IMPORTED GLOBAL)
  set_target_properties(lmxmaps::QMapboxGLPlugin PROPERTIES
    IMPORTED_LOCATION "${LMX_QMAPBOXGL_PLUGIN}" IMPORTED_NO_SONAME TRUE)
endif()
