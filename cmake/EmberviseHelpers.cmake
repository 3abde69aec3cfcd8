# A shared library loaded by name at run time (plug-in or module): no "lib" prefix, so that the
# name the engine asks for ("TripwireDLL.dll") maps to the file that is built ("TripwireDLL.so").
function(embervise_runtime_library target)
  set_target_properties(${target} PROPERTIES PREFIX "")
  if(NOT WIN32)
    set_target_properties(${target} PROPERTIES SUFFIX ".so")
  endif()
endfunction()

macro(embervise_add_folders)
  foreach(folder ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/CMakeLists.txt)
      add_subdirectory(${folder})
    endif()
  endforeach()
endmacro()

# One GoogleTest executable; each test case runs in a process of its own, so module-wide state
# (assertion ignore flags, the assertion manager) starts fresh for every case. Every one links the
# shared test helpers (tests/support).
function(embervise_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} embervise_test_support GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE EMBERVISE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             EMBERVISE_BIN_DIR="${EMBERVISE_BIN_DIR}")
  if(EMBERVISE_SANITIZE)
    target_compile_definitions(${name} PRIVATE EMBERVISE_SANITIZED=1) # slower programs: shorter runs
  endif()
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    # Listing the tests under Wine may first have to create the Wine prefix.
    set(discovery_timeout 300)
  elseif(DEFINED EMBERVISE_CAN_RUN_TESTS AND NOT EMBERVISE_CAN_RUN_TESTS)
    return() # a cross build with nothing here to run it: built, not registered
  else()
    set(discovery_timeout 5)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST WORKING_DIRECTORY ${EMBERVISE_BIN_DIR}
                       DISCOVERY_TIMEOUT ${discovery_timeout} PROPERTIES TIMEOUT 120)
endfunction()
