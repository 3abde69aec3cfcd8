# Windows builds (MinGW-w64, usually cross-built on Linux): GoogleTest from source, and CTest running
# the .exe files under Wine when the build host is not Windows.
#
# Cache variables:
#   EMBERVISE_GTEST_SOURCE_DIR  GoogleTest sources (Debian: the googletest package)
#   EMBERVISE_WINE              the Wine loader for this target's word size; empty: tests not run
#   EMBERVISE_WINEPREFIX        the Wine prefix the tests run in (created on first use)
#   EMBERVISE_NATIVE_BIN_DIR    bin folder of a Linux build, for comparing packed output

if(NOT WIN32)
  return()
endif()

set(EMBERVISE_WINDOWS_DIR ${CMAKE_CURRENT_LIST_DIR})

if(MINGW)
  # The C99 printf and scanf family of MinGW-w64 instead of the system runtime's: "%zu" and "%lld"
  # work, and numbers print as they do on Linux ("1e+10", not "1e+010").
  add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
endif()

# --- Running the programs ---------------------------------------------------------------------------

if(CMAKE_CROSSCOMPILING AND NOT CMAKE_HOST_WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # Debian keeps the loaders off PATH, in /usr/lib/wine; elsewhere "wine" runs both word sizes.
    find_program(EMBERVISE_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH
                 DOC "Wine loader for 64-bit programs")
  elseif(EXISTS /usr/lib/wine/wine64)
    # Debian: only the wine32 package brings the 32-bit loader, /usr/lib/wine/wine. Its /usr/bin/wine
    # falls back to the 64-bit loader, which cannot run 32-bit programs.
    find_program(EMBERVISE_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
                 DOC "Wine loader for 32-bit programs")
  else()
    find_program(EMBERVISE_WINE NAMES wine NO_CMAKE_FIND_ROOT_PATH DOC "Wine loader for 32-bit programs")
  endif()
  set(EMBERVISE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for the test run")

  # An installed loader may still not run: a kernel without 32-bit support refuses the i386 one
  # ("Exec format error"). Such a loader is forgotten, so a later configure looks again.
  if(EMBERVISE_WINE)
    execute_process(COMMAND ${EMBERVISE_WINE} --version RESULT_VARIABLE wine_result
                    OUTPUT_QUIET ERROR_QUIET TIMEOUT 60)
    if(NOT wine_result EQUAL 0)
      message(STATUS "Embervise: the Wine loader ${EMBERVISE_WINE} does not run here (${wine_result})")
      set(EMBERVISE_WINE EMBERVISE_WINE-NOTFOUND CACHE FILEPATH "Wine loader" FORCE)
    endif()
  endif()

  if(EMBERVISE_WINE)
    get_filename_component(wine_dir ${EMBERVISE_WINE} DIRECTORY)
    find_program(EMBERVISE_WINESERVER NAMES wineserver64 wineserver PATHS ${wine_dir} /usr/lib/wine
                 NO_CMAKE_FIND_ROOT_PATH DOC "Wine server of the loader")
    set(EMBERVISE_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run.sh)
    configure_file(${EMBERVISE_WINDOWS_DIR}/wine-run.sh.in ${EMBERVISE_WINE_RUN} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    # Every executable target created from here on runs through the wrapper: add_test, and the test
    # listing of gtest_discover_tests.
    set(CMAKE_CROSSCOMPILING_EMULATOR ${EMBERVISE_WINE_RUN})
  else()
    message(STATUS "Embervise: no Wine loader for ${CMAKE_SYSTEM_PROCESSOR}; the Windows tests build but do not run")
  endif()
endif()

# True when this build's test programs can run here (natively or under Wine).
if(CMAKE_HOST_WIN32 OR NOT CMAKE_CROSSCOMPILING OR EMBERVISE_WINE)
  set(EMBERVISE_CAN_RUN_TESTS ON)
else()
  set(EMBERVISE_CAN_RUN_TESTS OFF)
endif()

# --- GoogleTest -------------------------------------------------------------------------------------

# No Linux distribution ships GoogleTest built for MinGW: a cross build compiles it here from its
# sources, before the tests look for it. The package lookup of the tests then finds these targets.
if(EMBERVISE_BUILD_TESTS AND MINGW AND CMAKE_CROSSCOMPILING AND NOT TARGET GTest::gtest)
  set(EMBERVISE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
  if(NOT EXISTS ${EMBERVISE_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${EMBERVISE_GTEST_SOURCE_DIR} "
                        "(apt-get install googletest, or set EMBERVISE_GTEST_SOURCE_DIR)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${EMBERVISE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Third-party code: its warnings are not ours to fix.
  foreach(target gtest gtest_main)
    target_compile_options(${target} PRIVATE -w)
  endforeach()
  set(gtest_package ${CMAKE_BINARY_DIR}/googletest-package)
  file(WRITE ${gtest_package}/GTestConfig.cmake
       "# GoogleTest built from source in this build tree.\n"
       "if(NOT TARGET GTest::gtest OR NOT TARGET GTest::gtest_main)\n"
       "  set(GTest_FOUND FALSE)\n"
       "endif()\n")
  set(GTest_DIR ${gtest_package} CACHE PATH "GoogleTest package of this build" FORCE)
endif()

# --- Header-only packages of the build host ---------------------------------------------------------

# A cross build must not search the host's include folder as a whole. CLI11 and nlohmann-json are
# headers only: their packages resolve to targets that see just their own folders, through links in
# the build tree.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_HOST_WIN32)
  set(host_headers ${CMAKE_BINARY_DIR}/host-headers)
  foreach(entry "CLI11:CLI" "nlohmann_json:nlohmann")
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 package)
    list(GET entry 1 folder)
    if(NOT EXISTS /usr/include/${folder})
      continue()
    endif()
    if(NOT EXISTS ${host_headers}/${folder})
      file(MAKE_DIRECTORY ${host_headers})
      file(CREATE_LINK /usr/include/${folder} ${host_headers}/${folder} SYMBOLIC)
    endif()
    set(package_dir ${CMAKE_BINARY_DIR}/host-packages/${package})
    file(WRITE ${package_dir}/${package}Config.cmake
         "# ${package} of the build host, headers only.\n"
         "if(NOT TARGET ${package}::${package})\n"
         "  add_library(${package}::${package} INTERFACE IMPORTED)\n"
         "  set_target_properties(${package}::${package} PROPERTIES\n"
         "                        INTERFACE_INCLUDE_DIRECTORIES \"${host_headers}\")\n"
         "endif()\n")
    set(${package}_DIR ${package_dir} CACHE PATH "${package} headers of the build host" FORCE)
  endforeach()
endif()

# --- Checks that run on the build host --------------------------------------------------------------

# Registers a test that reads a built program or DLL with objdump: it must import from Windows' own
# DLLs only, and, given EXPORTS, export exactly those names, undecorated.
function(embervise_check_windows_binary target)
  cmake_parse_arguments(ARG "" "" "EXPORTS" ${ARGN})
  if(NOT TARGET ${target} OR NOT CMAKE_OBJDUMP)
    return()
  endif()
  set(exports)
  if(ARG_EXPORTS)
    string(REPLACE ";" "," export_list "${ARG_EXPORTS}")
    set(exports -DCHECK_EXPORTS=ON -DEXPORTS=${export_list})
  endif()
  add_test(NAME WindowsBinary.${target}
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DFILE=$<TARGET_FILE:${target}> ${exports}
                   -P ${EMBERVISE_WINDOWS_DIR}/CheckWindowsBinary.cmake)
  set_tests_properties(WindowsBinary.${target} PROPERTIES LABELS host)
endfunction()
