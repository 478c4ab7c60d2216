# What `cmake --install` puts under the prefix, and the Debian package CPack
# makes of it (`cpack -G DEB` in the build folder):
#   lib/libtarsel.so.MAJOR (SONAME) with its links, or bin/tarsel.dll with
#     lib/libtarsel.dll.a, lib/tarsel.lib and lib/tarsel.def
#   include/tarsel.h
#   bin/tarsel, the tool, when it is built
#   lib/cmake/Tarsel/: find_package(Tarsel) and the imported target Tarsel::tarsel
#   lib/pkgconfig/tarsel.pc: `pkg-config tarsel`, FFmpeg as a private requirement
# Every file locates the others relative to itself, so the tree may be moved.
include(CMakePackageConfigHelpers)

set(TARSEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tarsel)
set(TARSEL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS tarsel EXPORT TarselTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${TARSEL_INCLUDE_DIR}/tarsel.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  # With MinGW, tarsel.lib is made beside libtarsel.dll.a (MSVC's linker makes
  # it as the DLL's own import library, installed above).
  get_property(msvc_import_library GLOBAL PROPERTY TARSEL_MSVC_IMPORT_LIBRARY)
  install(FILES ${msvc_import_library} ${TARSEL_IMPORT_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

# The tool finds the library beside it, wherever the prefix is.
if(TARGET tarsel_tool)
  if(NOT WIN32)
    file(RELATIVE_PATH tool_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
    set_target_properties(tarsel_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${tool_to_lib}")
  endif()
  install(TARGETS tarsel_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT TarselTargets NAMESPACE Tarsel:: DESTINATION ${TARSEL_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TarselConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TarselConfig.cmake INSTALL_DESTINATION ${TARSEL_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_LIBDIR)
# 0.x and 1.x are different interfaces: a request for another major version fails.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TarselConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TarselConfig.cmake
              ${PROJECT_BINARY_DIR}/TarselConfigVersion.cmake
        DESTINATION ${TARSEL_CMAKE_DIR})

file(RELATIVE_PATH TARSEL_PC_TO_PREFIX /${TARSEL_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" TARSEL_PC_TO_PREFIX "${TARSEL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/tarsel.pc.in ${PROJECT_BINARY_DIR}/tarsel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarsel.pc DESTINATION ${TARSEL_PKGCONFIG_DIR})

# The Debian package: everything above under /usr, depending on the runtime
# packages of the FFmpeg libraries it was built against (dpkg-shlibdeps).
if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME tarsel)
  set(CPACK_PACKAGE_VENDOR "The Tarsel developers")
  set(CPACK_PACKAGE_CONTACT "The Tarsel developers <tarsel@localhost>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
  set(CPACK_PACKAGE_DESCRIPTION
      "Tarsel reads decoded video and audio from files and streams, writes video files, muxes H.264 into MP4, decodes packets, converts pixel layouts and captures from cameras and microphones, through a flat C interface. This package holds the library, its header, its CMake and pkg-config files and the tarsel tool.")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The tool's own dependency on the library is met inside the package.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  include(CPack)
endif()
