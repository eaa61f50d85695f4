# Installation: the library, its header, the command, the manual pages, a CMake package
# (find_package(imagefiles CONFIG) gives imagefiles::imagefiles) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(IMAGEFILES_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/imagefiles)

# An installed command finds a shared library beside it, wherever the prefix is.
if(BUILD_SHARED_LIBS AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  file(RELATIVE_PATH bin_to_lib "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
  set_target_properties(test_grey PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
endif()

install(TARGETS imagefiles test_grey EXPORT imagefilesTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/imagefiles/imagefiles.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/imagefiles)

install(EXPORT imagefilesTargets NAMESPACE imagefiles:: DESTINATION ${IMAGEFILES_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/imagefilesConfig.cmake.in
  ${PROJECT_BINARY_DIR}/imagefilesConfig.cmake INSTALL_DESTINATION ${IMAGEFILES_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/imagefilesConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/imagefilesConfig.cmake
  ${PROJECT_BINARY_DIR}/imagefilesConfigVersion.cmake DESTINATION ${IMAGEFILES_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so that it stays true when the prefix
# is chosen at install time (cmake --install --prefix) or the tree is moved.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(PKGCONFIG_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH pkgconfig_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" pkgconfig_up "${pkgconfig_up}")
  set(PKGCONFIG_PREFIX "\${pcfiledir}/${pkgconfig_up}")
endif()
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(PKGCONFIG_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(PKGCONFIG_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/imagefiles.pc.in ${PROJECT_BINARY_DIR}/imagefiles.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/imagefiles.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Manual pages carry the project's version once installed; the pages in the tree read right as
# they are (man -l man/test_grey.1).
foreach(page test_grey.1 imagefiles.3)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/${page})
  file(READ ${PROJECT_SOURCE_DIR}/man/${page} text)
  string(REPLACE "\"imagefiles\"" "\"imagefiles ${PROJECT_VERSION}\"" text "${text}")
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/man/${page} CONTENT "${text}" @ONLY)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/man/test_grey.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/man/imagefiles.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
