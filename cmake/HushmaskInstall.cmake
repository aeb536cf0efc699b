# Install rules: headers, the shared library with its SONAME links, the static
# library, the command-line tool and its man page, a CMake package
# (find_package(hushmask CONFIG)) and a pkg-config file.  Included from the
# top level when HUSHMASK_INSTALL is on.
#
# Targets a consumer gets from the package, the same names as with
# add_subdirectory or FetchContent:
#   hushmask::hushmask         the shared library libhushmask.so
#   hushmask::hushmask_static  the static library libhushmask.a
#                              (when built with HUSHMASK_BUILD_STATIC)
#   hushmask::hushset          the shared library libhushset.so
#   hushmask::hushset_static   the static library libhushset.a
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(HUSHMASK_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/hushmask"
  CACHE STRING "Where the CMake package files go, relative to the prefix")
set(HUSHMASK_INSTALL_PYTHONDIR "lib/python3/site-packages"
  CACHE STRING "Where the Python package goes, relative to the prefix (empty: not installed)")

set(hushmask_library_targets hushmask hushset)
if(TARGET hushmask_static)
  list(APPEND hushmask_library_targets hushmask_static hushset_static)
endif()

install(TARGETS ${hushmask_library_targets}
  EXPORT hushmaskTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(FILES
  ${PROJECT_SOURCE_DIR}/include/hushmask.h
  ${PROJECT_SOURCE_DIR}/include/hushmask.hpp
  ${PROJECT_SOURCE_DIR}/include/hushset.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

# The tool is written under tools/ and may be switched off.
if(TARGET hushmask_cli)
  # Finds the library of its own prefix wherever the prefix is, also when it
  # is not on the system search path.
  if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    file(RELATIVE_PATH hushmask_bin_to_lib
      "/${CMAKE_INSTALL_BINDIR}" "/${CMAKE_INSTALL_LIBDIR}")
    set_target_properties(hushmask_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${hushmask_bin_to_lib}")
  endif()
  install(TARGETS hushmask_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/hushmask.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
endif()

# CMake package.  The version file accepts any 0.x request for a 0.y install
# exactly as the SONAME does (libhushmask.so.0): same major, same ABI.
install(EXPORT hushmaskTargets
  NAMESPACE hushmask::
  DESTINATION ${HUSHMASK_INSTALL_CMAKEDIR} COMPONENT development)
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/hushmaskConfig.cmake.in
  ${PROJECT_BINARY_DIR}/hushmaskConfig.cmake
  INSTALL_DESTINATION ${HUSHMASK_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/hushmaskConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/hushmaskConfig.cmake
  ${PROJECT_BINARY_DIR}/hushmaskConfigVersion.cmake
  DESTINATION ${HUSHMASK_INSTALL_CMAKEDIR} COMPONENT development)

# pkg-config.  With relative install directories the file finds the prefix
# from its own place (${pcfiledir}), so `cmake --install --prefix` anywhere
# and a moved install tree both give correct flags.
set(HUSHMASK_PC_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(HUSHMASK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_LIBDIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}"
    OUTPUT_VARIABLE HUSHMASK_PC_LIBDIR)
  cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_INCLUDEDIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}"
    OUTPUT_VARIABLE HUSHMASK_PC_INCLUDEDIR)
else()
  # One ".." per component of <libdir>/pkgconfig leads back to the prefix.
  string(REGEX REPLACE "[^/]+" ".." hushmask_pc_up "${HUSHMASK_PC_DIR}")
  set(HUSHMASK_PC_PREFIX "\${pcfiledir}/${hushmask_pc_up}")
  set(HUSHMASK_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(HUSHMASK_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
foreach(hushmask_pc_library IN ITEMS hushmask hushset)
  if(hushmask_pc_library STREQUAL "hushset")
    set(HUSHMASK_PC_NAME hushset)
    set(HUSHMASK_PC_DESCRIPTION "Mask every occurrence of a set of secrets and their encoded forms in text and streams")
  else()
    set(HUSHMASK_PC_NAME hushmask)
    set(HUSHMASK_PC_DESCRIPTION "${PROJECT_DESCRIPTION}")
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/hushmask.pc.in ${PROJECT_BINARY_DIR}/${hushmask_pc_library}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${hushmask_pc_library}.pc
    DESTINATION ${HUSHMASK_PC_DIR} COMPONENT development)
endforeach()
# The ctypes binding needs no build step; it finds the library by walking up
# from its own place to the prefix's library directory.
if(HUSHMASK_INSTALL_PYTHONDIR)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/hushmask
    DESTINATION ${HUSHMASK_INSTALL_PYTHONDIR} COMPONENT python
    PATTERN "__pycache__" EXCLUDE)
endif()
