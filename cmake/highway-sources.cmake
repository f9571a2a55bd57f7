# Google Highway for the x86_64 Windows build, compiled from Debian's source
# package: Debian ships Highway built for the build machine only. Gives the
# target hwy::hwy, as the installed package does on Linux.
# scripts/setup.sh --windows fetches the sources into build-deps/ with
# `apt-get source highway`; -DKELVO_HWY_SOURCE_DIR=<folder> names others.
set(KELVO_HWY_SOURCE_DIR "" CACHE PATH "Highway's sources for a cross build (default: build-deps/highway-*)")
if(NOT KELVO_HWY_SOURCE_DIR)
  file(GLOB found ${PROJECT_SOURCE_DIR}/build-deps/highway-*/hwy/highway.h)
  if(found)
    list(SORT found COMPARE NATURAL ORDER DESCENDING)
    list(GET found 0 header)
    cmake_path(GET header PARENT_PATH hwy_dir)
    cmake_path(GET hwy_dir PARENT_PATH KELVO_HWY_SOURCE_DIR)
  endif()
endif()
if(NOT EXISTS ${KELVO_HWY_SOURCE_DIR}/CMakeLists.txt OR NOT EXISTS ${KELVO_HWY_SOURCE_DIR}/hwy/highway.h)
  message(FATAL_ERROR "Highway's sources not found in ${PROJECT_SOURCE_DIR}/build-deps/highway-*: "
                      "run scripts/setup.sh --windows (it fetches them from Debian's archive), "
                      "or pass -DKELVO_HWY_SOURCE_DIR=<folder of Highway's sources>")
endif()
message(STATUS "Highway: building ${KELVO_HWY_SOURCE_DIR} for ${CMAKE_SYSTEM_PROCESSOR}")

# The library alone, static, none of its tests or examples. Its install rules
# stay (never run): Highway 1.0.3 exports its targets whether they are on or not.
set(HWY_ENABLE_TESTS OFF CACHE BOOL "" FORCE)
set(HWY_ENABLE_EXAMPLES OFF CACHE BOOL "" FORCE)
set(HWY_ENABLE_CONTRIB OFF CACHE BOOL "" FORCE)
set(HWY_FORCE_STATIC_LIBS ON CACHE BOOL "" FORCE)
set(HWY_WARNINGS_ARE_ERRORS OFF CACHE BOOL "" FORCE)
add_subdirectory(${KELVO_HWY_SOURCE_DIR} ${CMAKE_BINARY_DIR}/highway EXCLUDE_FROM_ALL SYSTEM)
if(NOT TARGET hwy::hwy)
  add_library(hwy::hwy ALIAS hwy)
endif()
