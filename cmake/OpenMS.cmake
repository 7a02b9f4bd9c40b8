# Locates Debian's OpenMS 2.6 by hand and exposes it as the target openms::openms.
#
# Debian's OpenMSConfig.cmake points at folders of Debian's build machine, so it
# is not used. The package also installs the generated headers (OpenMS/config.h,
# OpenMS/OpenMSConfig.h, ...) under /usr/include/OpenMS/build/**/src/openms/
# instead of /usr/include/OpenMS/; when that is the case we make a shim include
# folder in the build tree with symbolic links named OpenMS/<header>.

find_library(OPENMS_LIBRARY NAMES OpenMS REQUIRED)
find_path(OPENMS_INCLUDE_DIR NAMES OpenMS/CHEMISTRY/EmpiricalFormula.h REQUIRED)
find_package(Qt5 COMPONENTS Core REQUIRED)
find_package(Boost REQUIRED)
# OpenMS's XML handler headers (the mzML reader drives MzMLHandler) include
# Xerces-C's (Debian: libxerces-c-dev).
find_path(XERCESC_INCLUDE_DIR NAMES xercesc/util/XMLString.hpp)
find_library(XERCESC_LIBRARY NAMES xerces-c)
if(NOT XERCESC_INCLUDE_DIR OR NOT XERCESC_LIBRARY)
  message(FATAL_ERROR "Xerces-C headers not found: install libxerces-c-dev (scripts/bootstrap does)")
endif()

set(_openms_includes ${OPENMS_INCLUDE_DIR})
if(NOT EXISTS "${OPENMS_INCLUDE_DIR}/OpenMS/config.h")
  # GLOB_RECURSE with a bare file name matches it in every sub-folder.
  file(GLOB_RECURSE _openms_config "${OPENMS_INCLUDE_DIR}/OpenMS/build/config.h")
  list(FILTER _openms_config INCLUDE REGEX "/src/openms/config\\.h$")
  list(LENGTH _openms_config _n)
  if(_n EQUAL 0)
    message(FATAL_ERROR "OpenMS: generated header OpenMS/config.h not found under ${OPENMS_INCLUDE_DIR}/OpenMS")
  endif()
  list(GET _openms_config 0 _openms_config)
  get_filename_component(_openms_generated "${_openms_config}" DIRECTORY)
  set(_shim "${CMAKE_BINARY_DIR}/openms-shim")
  file(MAKE_DIRECTORY "${_shim}/OpenMS")
  file(GLOB _generated_headers "${_openms_generated}/*.h")
  foreach(_h IN LISTS _generated_headers)
    get_filename_component(_name "${_h}" NAME)
    file(CREATE_LINK "${_h}" "${_shim}/OpenMS/${_name}" SYMBOLIC)
  endforeach()
  list(PREPEND _openms_includes "${_shim}")
endif()

# Data folder with CHEMISTRY/unimod.xml, for the modification fallback.
find_path(OPENMS_SHARE_DIR NAMES CHEMISTRY/unimod.xml
  PATHS /usr/share/openms /usr/share/OpenMS /usr/local/share/OpenMS NO_DEFAULT_PATH)
if(NOT OPENMS_SHARE_DIR)
  set(OPENMS_SHARE_DIR "/usr/share/openms")
endif()

add_library(openms::openms INTERFACE IMPORTED)
target_include_directories(openms::openms SYSTEM INTERFACE ${_openms_includes} ${Boost_INCLUDE_DIRS} ${XERCESC_INCLUDE_DIR})
# gomp: OpenMS's OpenMP runtime, whose thread count the mzML reader sets.
target_link_libraries(openms::openms INTERFACE ${OPENMS_LIBRARY} Qt5::Core ${XERCESC_LIBRARY} gomp)
message(STATUS "OpenMS: ${OPENMS_LIBRARY}; headers ${_openms_includes}; data ${OPENMS_SHARE_DIR}")
