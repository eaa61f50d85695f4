# Installation: the library, its header, the command, the manual pages, a CMake package
# (find_package(imagefiles CONFIG) gives imagefiles::imagefiles) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(IMAGEFILES_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/imagefiles)

# An installed command finds a shared library beside it, wherever the prefix is.
if(BUILD_SHARED_LIBS AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  file(RELATIVE_PATH bin_to_lib "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
  set_target_properties(test_grey seuiller evaluer PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
endif()

# Three components, which the Debian packages follow (see packaging.cmake): the shared library
# (library), what a program built against it needs (development), and the commands (tools).
install(TARGETS imagefiles EXPORT imagefilesTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(TARGETS test_grey seuiller evaluer EXPORT imagefilesTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/imagefiles/imagefiles.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/imagefiles COMPONENT development)

install(EXPORT imagefilesTargets NAMESPACE imagefiles:: DESTINATION ${IMAGEFILES_CMAKE_DIR}
  COMPONENT development)
# A static library needs the format libraries it was built with: the package finds them (CMake),
# or names them (pkg-config).
set(IMAGEFILES_STATIC_DEPENDENCIES "")
set(PKGCONFIG_REQUIRES_PRIVATE "")
set(pkgconfig_names_PNG libpng)
set(pkgconfig_names_TIFF libtiff-4)
set(pkgconfig_names_JPEG libjpeg)
foreach(format IN LISTS IMAGEFILES_DEPENDENCIES)
  if(format)
    list(APPEND PKGCONFIG_REQUIRES_PRIVATE ${pkgconfig_names_${format}})
    if(NOT BUILD_SHARED_LIBS)
      list(APPEND IMAGEFILES_STATIC_DEPENDENCIES ${format})
    endif()
  endif()
endforeach()
list(JOIN PKGCONFIG_REQUIRES_PRIVATE " " PKGCONFIG_REQUIRES_PRIVATE)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/imagefilesConfig.cmake.in
  ${PROJECT_BINARY_DIR}/imagefilesConfig.cmake INSTALL_DESTINATION ${IMAGEFILES_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/imagefilesConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/imagefilesConfig.cmake
  ${PROJECT_BINARY_DIR}/imagefilesConfigVersion.cmake DESTINATION ${IMAGEFILES_CMAKE_DIR}
  COMPONENT development)

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
# A C program linking the static library names the C++ runtime (see imagefiles/CMakeLists.txt).
set(PKGCONFIG_LIBS_PRIVATE "")
foreach(library IN LISTS IMAGEFILES_CXX_RUNTIME)
  if(IS_ABSOLUTE "${library}" OR library MATCHES "^-")
    list(APPEND PKGCONFIG_LIBS_PRIVATE "${library}")
  else()
    list(APPEND PKGCONFIG_LIBS_PRIVATE "-l${library}")
  endif()
endforeach()
list(JOIN PKGCONFIG_LIBS_PRIVATE " " PKGCONFIG_LIBS_PRIVATE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/imagefiles.pc.in ${PROJECT_BINARY_DIR}/imagefiles.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/imagefiles.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

# Manual pages carry the project's version once installed; the pages in the tree read right as
# they are (man -l man/test_grey.1). Packages have them compressed, as Debian wants.
set(manual_components test_grey.1 tools seuiller.1 tools evaluer.1 tools imagefiles.3
  development)
while(manual_components)
  list(POP_FRONT manual_components page component)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/${page})
  file(READ ${PROJECT_SOURCE_DIR}/man/${page} text)
  string(REPLACE "\"imagefiles\"" "\"imagefiles ${PROJECT_VERSION}\"" text "${text}")
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/man/${page} CONTENT "${text}" @ONLY)
  string(REGEX REPLACE ".*\\." "" section ${page})
  set(installed ${PROJECT_BINARY_DIR}/man/${page})
  if(IMAGEFILES_PACKAGE)
    add_custom_command(OUTPUT ${installed}.gz
      COMMAND gzip -9nc ${installed} > ${installed}.gz
      DEPENDS ${installed} VERBATIM)
    add_custom_target(manual_${page} ALL DEPENDS ${installed}.gz)
    set(installed ${installed}.gz)
  endif()
  install(FILES ${installed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endwhile()

# The licence and the changelog go with the documentation; packages carry them in Debian's form.
if(NOT IMAGEFILES_PACKAGE)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT development)
endif()
