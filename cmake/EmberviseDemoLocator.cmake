# Writes the demo project's locator file, naming the programs' folder and the sample module by
# absolute paths. Run as a script (`make demo`, the tests) or included by the install step:
#
#   cmake -DEMBERVISE_DEMO_LOCATOR=demo/demo.proj00 -DEMBERVISE_DEMO_TOOLS=/abs/bin
#         -DEMBERVISE_DEMO_MODULES=/abs/lib/embervise -P cmake/EmberviseDemoLocator.cmake
#
# The file is rewritten only when its text changes, so that packed files stay up to date.
foreach(variable EMBERVISE_DEMO_LOCATOR EMBERVISE_DEMO_TOOLS EMBERVISE_DEMO_MODULES)
  if(NOT ${variable})
    message(FATAL_ERROR "EmberviseDemoLocator.cmake: set ${variable}")
  endif()
endforeach()
foreach(variable EMBERVISE_DEMO_TOOLS EMBERVISE_DEMO_MODULES)
  if(NOT IS_ABSOLUTE "${${variable}}")
    message(FATAL_ERROR "EmberviseDemoLocator.cmake: ${variable} must be absolute, not '${${variable}}'")
  endif()
  string(REGEX REPLACE "[/\\\\]+$" "" ${variable} "${${variable}}")
endforeach()
configure_file("${CMAKE_CURRENT_LIST_DIR}/demo.proj00.in" "${EMBERVISE_DEMO_LOCATOR}" @ONLY)
