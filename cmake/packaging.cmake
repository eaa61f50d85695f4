# Packages, made by cpack in a build configured for them:
#
#   cmake -S . -B build-package -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX=/usr \
#     -DIMAGEFILES_PACKAGE=ON && cmake --build build-package -j2 && (cd build-package && cpack)
#
# gives three Debian packages and one archive of everything:
# - libimagefiles2: the shared library, named after its SONAME as Debian's policy asks, so that a
#   program built against 1.x and one built against 2.x can be installed side by side;
# - libimagefiles-dev: the header, the link-time name, the CMake package, the pkg-config file and
#   imagefiles(3);
# - imagefiles-tools: the commands (test_grey, seuiller, evaluer) and their manual pages.
# Each has /usr/share/doc/<package>/copyright (the MIT licence, in Debian's format) and a
# changelog; dependencies on shared libraries are found from the binaries (dpkg-shlibdeps).

set(CPACK_PACKAGE_NAME imagefiles)
set(CPACK_PACKAGE_VENDOR "the imagefiles authors")
# Each package has its own synopsis (the first line of its description): none common to them.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
# The project has no address of its own: the packages' maintainer is whoever builds them, named
# as Debian's own tools name them (DEBFULLNAME and DEBEMAIL), else by git's user settings.
if(NOT IMAGEFILES_PACKAGE_CONTACT)
  set(contact_name "$ENV{DEBFULLNAME}")
  set(contact_mail "$ENV{DEBEMAIL}")
  find_package(Git QUIET)
  foreach(field name mail)
    if(NOT contact_${field} AND GIT_EXECUTABLE)
      string(REPLACE mail email key ${field})
      execute_process(COMMAND ${GIT_EXECUTABLE} config user.${key}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE contact_${field}
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
  endforeach()
  if(contact_mail)
    set(IMAGEFILES_PACKAGE_CONTACT "${contact_name} <${contact_mail}>")
  endif()
endif()
set(IMAGEFILES_PACKAGE_CONTACT "${IMAGEFILES_PACKAGE_CONTACT}" CACHE STRING
  "The packages' maintainer, \"Name <address>\" (by default from DEBFULLNAME and DEBEMAIL, or git)")
if(IMAGEFILES_PACKAGE AND NOT IMAGEFILES_PACKAGE_CONTACT)
  message(FATAL_ERROR "The packages need a maintainer: set DEBEMAIL (and DEBFULLNAME), or "
    "-DIMAGEFILES_PACKAGE_CONTACT=\"Name <address>\"")
endif()
set(CPACK_PACKAGE_CONTACT "${IMAGEFILES_PACKAGE_CONTACT}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# The archive unpacks anywhere: bin/, lib/, include/ and share/ at its top.
file(WRITE ${PROJECT_BINARY_DIR}/package-control/per-generator.cmake
  "if(CPACK_GENERATOR STREQUAL \"TGZ\")\n  set(CPACK_PACKAGING_INSTALL_PREFIX /)\nendif()\n")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/package-control/per-generator.cmake)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_PACKAGE_FILE_NAME imagefiles-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/imagefiles)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The project has no home page: the packages carry no Homepage field.
set(library_package libimagefiles${PROJECT_VERSION_MAJOR})
set(exact "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${library_package})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The shlibs file tells dpkg-shlibdeps which package provides the library; the trigger runs
# ldconfig once after the library is installed or removed.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
file(WRITE ${PROJECT_BINARY_DIR}/package-control/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/package-control/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "Netpbm image files and their binarisation (shared library)
The imagefiles library reads and writes Netpbm image files: binary greymaps
(P5), colour files (P6) and bitmaps (P4), from named files and from streams;
it reads PNG, TIFF and JPEG scans as greymaps and writes 1-bit PNG and Group 4
TIFF. It binarises greymaps with a fixed threshold, Otsu's global threshold,
Sauvola's, Niblack's and Wolf's local thresholds, and an automatic method
for document pages. Its functions are callable from C and C++; one family
ends the process on a failure, the other returns a status. Writing replaces
a file whole or leaves it as it was.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libimagefiles-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The pkg-config file names the format libraries (for static builds), which pkg-config then
# wants present; the library package's own dependencies on them come from dpkg-shlibdeps.
set(development_depends "${library_package} ${exact}")
set(debian_dev_PNG libpng-dev)
set(debian_dev_TIFF libtiff-dev)
set(debian_dev_JPEG "libjpeg-dev | libjpeg62-turbo-dev")
foreach(format IN LISTS IMAGEFILES_DEPENDENCIES)
  if(format)
    string(APPEND development_depends ", ${debian_dev_${format}}")
  endif()
endforeach()
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${development_depends}")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "Netpbm image files and their binarisation (development files)
The imagefiles library reads and writes Netpbm image files (greymaps, colour
files and bitmaps), reads PNG, TIFF and JPEG scans as greymaps, writes 1-bit
PNG and Group 4 TIFF, and binarises greymaps with fixed, Otsu, local and
automatic thresholds. This package holds what a program built against it
needs: the header, the link-time library name, a CMake package, a pkg-config
file and the manual page imagefiles(3).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME imagefiles-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${library_package} ${exact}")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "binarise greymap files: fixed, Otsu, local and automatic thresholds
seuiller turns scanned or photographed pages, as binary greymaps (P5), into
black and white: many files in one run, on every processor, with a fixed
threshold, Otsu's global threshold, Sauvola's, Niblack's or Wolf's local
threshold, or an automatic method for document pages; it writes greymaps or
bitmaps (P4), or sits in a pipeline between image converters, with the exit
status that shell tools expect. test_grey binarises one greymap with a fixed
threshold. evaluer measures a result against its ground truth (F-measure,
pseudo-F-measure, PSNR, DRD, NRM, MCC). Outputs are replaced whole or left as
they were.")

if(IMAGEFILES_PACKAGE)
  # Debian's copyright file and changelog, in each package's documentation folder.
  string(TIMESTAMP changelog_date "%a, %d %b %Y 00:00:00 +0000" UTC)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(REGEX REPLACE "^MIT License\n\n[^\n]*\n\n" "" licence "${licence}")
  string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REGEX REPLACE "\n([^\n])" "\n \\1" licence "${licence}")
  foreach(component library development tools)
    string(TOUPPER ${component} upper)
    set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    set(doc ${PROJECT_BINARY_DIR}/package-doc/${package})
    file(WRITE ${doc}/copyright
      "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
      "Upstream-Name: imagefiles\n\n"
      "Files: *\nCopyright: 2026 the imagefiles authors\nLicense: MIT\n ${licence}")
    # The Debian changelog points to the project's own, which every package ships beside it.
    file(WRITE ${doc}/changelog
      "imagefiles (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
      "  * Release ${PROJECT_VERSION}; the changes are in\n"
      "    /usr/share/doc/${package}/CHANGELOG.md.gz.\n\n"
      " -- ${CPACK_PACKAGE_CONTACT}  ${changelog_date}\n")
    add_custom_command(OUTPUT ${doc}/changelog.gz ${doc}/CHANGELOG.md.gz
      COMMAND gzip -9nc ${doc}/changelog > ${doc}/changelog.gz
      COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/CHANGELOG.md > ${doc}/CHANGELOG.md.gz
      DEPENDS ${doc}/changelog ${PROJECT_SOURCE_DIR}/CHANGELOG.md VERBATIM)
    add_custom_target(changelog_${component} ALL DEPENDS ${doc}/changelog.gz ${doc}/CHANGELOG.md.gz)
    install(FILES ${doc}/copyright ${doc}/changelog.gz ${doc}/CHANGELOG.md.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()

include(CPack)
cpack_add_component(library)
cpack_add_component(development DEPENDS library)
cpack_add_component(tools DEPENDS library)
