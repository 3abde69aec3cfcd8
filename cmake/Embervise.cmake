# Packs effect sources as part of a CMake build. In a project:
#
#   include(path/to/Embervise.cmake)
#   embervise_pack_effects(effects content/fx content/ui)
#
# adds the target `effects` (built by default) with one custom command per effect source found
# under the folders (*.Fx00a, *.Fx00c): each writes the packed file beside its source and a depfile
# naming the source, the project locator file and the effect module, so that the build repacks
# exactly the files whose inputs changed (zqpack and its Embervise plug-in are inputs too). zqpack is taken from EMBERVISE_ZQPACK (a path), else from
# a `zqpack` target of the same build, else from the PATH; it loads the plug-ins beside itself.
# Two sources that would write one packed file (x.Fx00a and x.Fx00c) stop the configuration.

function(embervise_pack_effects target)
  if(NOT ARGN)
    message(FATAL_ERROR "embervise_pack_effects(${target}): name at least one folder")
  endif()
  if(EMBERVISE_ZQPACK)
    set(zqpack "${EMBERVISE_ZQPACK}")
  elseif(TARGET zqpack)
    set(zqpack zqpack) # a target name: CMake runs the built program and builds it first
  else()
    find_program(EMBERVISE_ZQPACK_PROGRAM zqpack REQUIRED)
    set(zqpack "${EMBERVISE_ZQPACK_PROGRAM}")
  endif()

  # Every pack also depends on zqpack and the plug-ins beside it; the locator file and the module come
  # from the depfile. Make has no restat: there zqpack moves an unchanged output's time forward, so
  # that a build after an input changed without changing the bytes settles at once.
  if(TARGET "${zqpack}")
    set(tool_depends "${zqpack}")
    if(TARGET Embervise)
      list(APPEND tool_depends Embervise)
    endif()
  else()
    set(tool_depends "${zqpack}")
    get_filename_component(tool_dir "${zqpack}" DIRECTORY)
    if(EXISTS "${tool_dir}/Embervise${CMAKE_SHARED_LIBRARY_SUFFIX}")
      list(APPEND tool_depends "${tool_dir}/Embervise${CMAKE_SHARED_LIBRARY_SUFFIX}")
    endif()
  endif()
  set(touch)
  if(CMAKE_GENERATOR MATCHES "Make")
    set(touch --touch)
  endif()

  set(outputs)
  set(seen)
  foreach(folder IN LISTS ARGN)
    get_filename_component(folder "${folder}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${folder}/*")
    list(SORT sources)
    foreach(source IN LISTS sources)
      get_filename_component(extension "${source}" LAST_EXT)
      string(TOLOWER "${extension}" extension)
      if(NOT extension STREQUAL ".fx00a" AND NOT extension STREQUAL ".fx00c")
        continue()
      endif()
      string(REGEX REPLACE "\\.[^./\\\\]*$" ".Fx00p" output "${source}")
      if(output IN_LIST seen)
        message(FATAL_ERROR "embervise_pack_effects(${target}): two sources would be packed into ${output}")
      endif()
      list(APPEND seen "${output}")
      add_custom_command(
        OUTPUT "${output}"
        COMMAND "${zqpack}" -q --no-workers --depfiles ${touch} -- "${source}"
        DEPENDS "${source}" ${tool_depends}
        DEPFILE "${output}.d"
        COMMENT "Packing ${source}"
        VERBATIM)
      list(APPEND outputs "${output}")
    endforeach()
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
