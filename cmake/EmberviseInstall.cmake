# What `cmake --install` adds besides the targets' own rules: the CMake package, so that
# find_package(Embervise) gives embervise_pack_effects() with this tree's zqpack, and the demo
# project with a locator file naming the installed sample module.
include(CMakePackageConfigHelpers)

set(EMBERVISE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Embervise)
set(EMBERVISE_ZQPACK_NAME zqpack${CMAKE_EXECUTABLE_SUFFIX})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/EmberviseConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/EmberviseConfig.cmake
                              INSTALL_DESTINATION ${EMBERVISE_INSTALL_CMAKEDIR}
                              PATH_VARS CMAKE_INSTALL_BINDIR)
# zqpack is a program the project runs, not a library it links: any architecture serves.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/EmberviseConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/Embervise.cmake ${CMAKE_BINARY_DIR}/EmberviseConfig.cmake
              ${CMAKE_BINARY_DIR}/EmberviseConfigVersion.cmake
        DESTINATION ${EMBERVISE_INSTALL_CMAKEDIR})

# The demo's sources, and its locator written for the prefix installed into (known only then).
set(EMBERVISE_INSTALL_DEMODIR ${CMAKE_INSTALL_DATADIR}/embervise/demo)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/demo/ DESTINATION ${EMBERVISE_INSTALL_DEMODIR}
        FILES_MATCHING PATTERN "*.Fx00a" PATTERN "*.Fx00c")
if(WIN32)
  set(demo_modules ${CMAKE_INSTALL_BINDIR}) # DLLs are installed beside the programs
else()
  set(demo_modules ${EMBERVISE_INSTALL_MODULEDIR})
endif()
install(CODE "
  set(EMBERVISE_DEMO_LOCATOR \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${EMBERVISE_INSTALL_DEMODIR}/demo.proj00\")
  set(EMBERVISE_DEMO_TOOLS \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(EMBERVISE_DEMO_MODULES \"\${CMAKE_INSTALL_PREFIX}/${demo_modules}\")
  message(STATUS \"Installing: \${EMBERVISE_DEMO_LOCATOR}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/EmberviseDemoLocator.cmake\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${EMBERVISE_DEMO_LOCATOR}\")")
