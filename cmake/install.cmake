# Installation: bin/morrowtide, the static libraries of the compressor, the LAS
# library and quodax_loader, their headers under include/morrowtide/, and a CMake
# package, so that a client needs nothing but find_package(morrowtide). Tests,
# test stand-ins and benchmarks are not installed. The libraries are installed
# under their export names: morrowtide::compressor, morrowtide::las and
# morrowtide::quodax_loader, the names the build tree's aliases give them too.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MORROWTIDE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/morrowtide)

install(TARGETS morrowtide_compressor morrowtide_las morrowtide_quodax_loader EXPORT morrowtideTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS morrowtide RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(folder compressor las binding)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${folder}/
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/morrowtide/${folder}
          FILES_MATCHING PATTERN "*.h")
endforeach()

install(EXPORT morrowtideTargets NAMESPACE morrowtide:: DESTINATION ${MORROWTIDE_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/morrowtideConfig.cmake.in
  ${PROJECT_BINARY_DIR}/morrowtideConfig.cmake INSTALL_DESTINATION ${MORROWTIDE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/morrowtideConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/morrowtideConfig.cmake
              ${PROJECT_BINARY_DIR}/morrowtideConfigVersion.cmake
        DESTINATION ${MORROWTIDE_CMAKE_DIR})
