# Packs effect sources as part of a CMake build. In a project:
#
#   include(path/to/Embervise.cmake)
#   embervise_pack_effects(effects content/fx content/ui)
#
# adds the target `effects` (built by default) with one custom command per effect source found
# under the folders (*.Fx00a, *.Fx00c): each writes the packed file beside its source and a depfile
# (in the build folder) naming the source, the project locator file and the effect module, so that
# the build repacks exactly the files whose inputs changed (zqpack and its Embervise plug-in are
# inputs too), and a locator file appearing on the way up from a source repacks it. zqpack is taken
# from EMBERVISE_ZQPACK (a path), else from a `zqpack` target of the same build, else from the PATH;
# it loads the plug-ins beside itself.
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
  # from the depfile.
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
  # A pack moves its output's time to now even when the bytes stay: the scan before it may have
  # written the file, and the output must end newer than the scan's listing (and, for Make, which has
  # no restat, newer than any input that changed without changing the bytes). Under Make the scans
  # move their listings' times too.
  set(touch)
  if(CMAKE_GENERATOR MATCHES "Make")
    set(touch --touch)
  endif()
  # Depfiles and the scans' listings stay in the build folder: written beside the sources, they would
  # move the write times of the folders that the scans watch.
  set(state "${CMAKE_CURRENT_BINARY_DIR}/embervise-${target}")

  set(sources_all)
  foreach(folder IN LISTS ARGN)
    get_filename_component(folder "${folder}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    # Only sources: the packed files appearing must not make CMake configure again.
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${folder}/*.[fF][xX]00[aAcC]")
    list(SORT sources)
    list(APPEND sources_all ${sources})
  endforeach()

  # A locator file appearing, going or changing where the search for a source's locator passes must
  # repack it, and the glob above sees no folder outside the given ones. So every folder that a search
  # passes (a source's folder and each one above it, up to the first that holds a locator) has a scan:
  # a command that depends on the folder itself, the sources in it and the scans of the folders above
  # it on the way, packs those sources, and rewrites its listing of the folder's locator files only
  # when it changes. The packs depend on the scans of their way, find their files up to date after the
  # scan packed them, and write nothing, so a packed file written never moves a watched folder's time
  # after its scan ran. (Make has no restat: there the scan moves its listing's time every time it
  # runs, and the packs after it find up to date files.) The way is taken when CMake configures:
  # after a locator on it goes, one appearing above its old end is seen from the next configuration.
  set(folders_all)
  foreach(source IN LISTS sources_all)
    get_filename_component(dir "${source}" DIRECTORY)
    string(MD5 key "${dir}")
    list(APPEND sources_in_${key} "${source}")
    if(DEFINED way_${key})
      continue()
    endif()
    set(way)
    set(step "${dir}")
    while(TRUE)
      list(APPEND way "${step}")
      file(GLOB locators LIST_DIRECTORIES false "${step}/*.[pP][rR][oO][jJ]00")
      get_filename_component(parent "${step}" DIRECTORY)
      if(locators OR parent STREQUAL step OR parent STREQUAL "")
        break()
      endif()
      set(step "${parent}")
    endwhile()
    set(way_${key} "${way}")
    list(APPEND folders_all ${way})
  endforeach()
  list(REMOVE_DUPLICATES folders_all)

  foreach(folder IN LISTS folders_all)
    string(MD5 key "${folder}")
    set(above)
    get_filename_component(parent "${folder}" DIRECTORY)
    foreach(other IN LISTS folders_all)
      string(LENGTH "${other}" length)
      string(LENGTH "${folder}" folder_length)
      if(length LESS folder_length)
        string(SUBSTRING "${folder}" 0 ${length} start)
        string(SUBSTRING "${folder}" ${length} 1 next)
        if(start STREQUAL other AND (next STREQUAL "/" OR next STREQUAL "\\"))
          string(MD5 other_key "${other}")
          list(APPEND above "${state}/scan-${other_key}")
        endif()
      endif()
    endforeach()
    set(listing "${state}/scan-${key}")
    add_custom_command(
      OUTPUT "${listing}"
      COMMAND "${zqpack}" -q --watch "${folder}" --listing "${listing}" --match "${folder}/*.proj00" ${touch}
              -- ${sources_in_${key}}
      DEPENDS "${folder}" ${sources_in_${key}} ${above} ${tool_depends}
      DEPFILE "${listing}.d"
      COMMENT "Scanning ${folder} for project locator files"
      VERBATIM)
  endforeach()

  set(outputs)
  set(seen)
  foreach(source IN LISTS sources_all)
    string(REGEX REPLACE "\\.[^./\\\\]*$" ".Fx00p" output "${source}")
    if(output IN_LIST seen)
      message(FATAL_ERROR "embervise_pack_effects(${target}): two sources would be packed into ${output}")
    endif()
    list(APPEND seen "${output}")
    get_filename_component(dir "${source}" DIRECTORY)
    string(MD5 key "${dir}")
    set(scans)
    foreach(folder IN LISTS way_${key})
      string(MD5 folder_key "${folder}")
      list(APPEND scans "${state}/scan-${folder_key}")
    endforeach()
    string(MD5 output_key "${output}")
    set(depfile "${state}/${output_key}.d")
    add_custom_command(
      OUTPUT "${output}"
      COMMAND "${zqpack}" -q --no-workers --depfile "${depfile}" --touch -- "${source}"
      DEPENDS "${source}" ${scans} ${tool_depends}
      DEPFILE "${depfile}"
      COMMENT "Packing ${source}"
      VERBATIM)
    list(APPEND outputs "${output}")
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
