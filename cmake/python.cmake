# The Python module (python/), built where pybind11 and the interpreter's development files are.
# The interpreter is the system's, where Debian's numpy, pybind11 and Dask are, unless
# Python3_EXECUTABLE names another.
set(IMAGEFILES_PYTHON_MODULE OFF)
if(IMAGEFILES_SANITIZE)
  message(STATUS "Python module: no (a sanitized build cannot be loaded into the interpreter)")
  return()
endif()
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 3.8 COMPONENTS Interpreter Development.Module QUIET)
if(Python3_FOUND)
  set(PYBIND11_FINDPYTHON ON)
  find_package(pybind11 2.6 CONFIG QUIET)
endif()
if(NOT Python3_FOUND OR NOT pybind11_FOUND)
  message(STATUS "Python module: no (needs python3-dev and pybind11-dev; apt-get install -y "
                 "python3-dev pybind11-dev python3-numpy)")
  return()
endif()
# One version for the library and the package.
file(READ ${PROJECT_SOURCE_DIR}/python/pyproject.toml pyproject)
string(REGEX MATCH "\nversion = \"([^\"]*)\"" _ "${pyproject}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "python/pyproject.toml has version ${CMAKE_MATCH_1}, the library ${PROJECT_VERSION}")
endif()
message(STATUS "Python module: yes (Python ${Python3_VERSION} at ${Python3_EXECUTABLE}, "
               "pybind11 ${pybind11_VERSION})")
set(IMAGEFILES_PYTHON_MODULE ON)
# The module is a shared object made of the library's objects (and the commands' temporary copies
# of pipes).
set_target_properties(imagefiles_objects command_support PROPERTIES POSITION_INDEPENDENT_CODE ON)
add_subdirectory(python)
