# Release packaging, included at the end of the top-level CMakeLists.txt.
#
# Windows (the MinGW cross build): vorrel.exe gets its file properties
# (version resource) and its application manifest, and `cpack -G ZIP` (or the
# `package` target) makes a ZIP that holds vorrel.exe, the example library as
# inc\Vorrel beside it, README.txt (the short user text docs/user.txt),
# LICENSE.txt and the example project.
#
# Linux: `cmake --install` puts vorrel in bin/, its man page in
# share/man/man1/ and the README, license and examples in share/doc/vorrel/.
#
# The tests of both (tests/package/) run in the native tree; the Windows ones
# take the cross build from VORREL_WINDOWS_BUILD.

include(GNUInstallDirs)

# The ZIP's name, known to both trees: the native one tests it.
set(VORREL_ZIP_BASENAME "vorrel-${PROJECT_VERSION}-win64")
set(VORREL_FILE_DESCRIPTION "HotBasic Vorrel optimizer")

# Windows wants four version numbers: 2.1 is 2.1.0.0.
set(VORREL_VERSION_NUMBERS "")
foreach(part MAJOR MINOR PATCH TWEAK)
  set(number "${PROJECT_VERSION_${part}}")
  if(number STREQUAL "")
    set(number 0)
  endif()
  list(APPEND VORREL_VERSION_NUMBERS ${number})
endforeach()
string(REPLACE ";" "." VORREL_VERSION_QUAD "${VORREL_VERSION_NUMBERS}")
string(REPLACE ";" "," VORREL_VERSION_COMMAS "${VORREL_VERSION_NUMBERS}")

set(VORREL_PACKAGING_DIR "${CMAKE_BINARY_DIR}/packaging")

# A text file copied with CR LF line ends, for readers on Windows; made again
# whenever the original changes (CMake then configures anew).
function(vorrel_crlf_copy source destination)
  file(READ "${source}" text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  set(old "")
  if(EXISTS "${destination}")
    file(READ "${destination}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${destination}" "${text}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
endfunction()

if(WIN32)
  # File properties and manifest, for vorrel.exe alone.
  enable_language(RC)
  set(VORREL_MANIFEST_FILE "${VORREL_PACKAGING_DIR}/vorrel.manifest")
  configure_file(packaging/vorrel.manifest.in "${VORREL_MANIFEST_FILE}" @ONLY)
  configure_file(packaging/vorrel.rc.in "${VORREL_PACKAGING_DIR}/vorrel.rc" @ONLY)
  set(resources "${VORREL_PACKAGING_DIR}/vorrel.rc")
  set_property(SOURCE "${resources}" APPEND PROPERTY OBJECT_DEPENDS "${VORREL_MANIFEST_FILE}")
  target_sources(vorrel PRIVATE "${resources}")

  # The ZIP's layout.
  vorrel_crlf_copy("${PROJECT_SOURCE_DIR}/docs/user.txt" "${VORREL_PACKAGING_DIR}/README.txt")
  vorrel_crlf_copy("${PROJECT_SOURCE_DIR}/LICENSE" "${VORREL_PACKAGING_DIR}/LICENSE.txt")
  install(TARGETS vorrel RUNTIME DESTINATION .)
  install(DIRECTORY examples/inc/Vorrel/ DESTINATION inc/Vorrel)
  install(DIRECTORY examples/project/ DESTINATION example)
  install(FILES "${VORREL_PACKAGING_DIR}/README.txt" "${VORREL_PACKAGING_DIR}/LICENSE.txt" DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME vorrel)
  set(CPACK_PACKAGE_VENDOR Brannox)
  set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
  set(CPACK_PACKAGE_FILE_NAME "${VORREL_ZIP_BASENAME}")
  set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
  # vorrel.exe at the top of the ZIP, not inside a folder of the package's name.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_SOURCE_GENERATOR "")
  include(CPack)
else()
  configure_file(packaging/vorrel.1.in "${VORREL_PACKAGING_DIR}/vorrel.1" @ONLY)
  install(TARGETS vorrel RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES "${VORREL_PACKAGING_DIR}/vorrel.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES README.md LICENSE DESTINATION "${CMAKE_INSTALL_DOCDIR}")
  install(DIRECTORY examples/ DESTINATION "${CMAKE_INSTALL_DOCDIR}/examples")

  if(VORREL_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING AND NOT VORREL_FUZZ)
    find_program(VORREL_BASH bash REQUIRED)
    set(package_test ${VORREL_BASH} "${PROJECT_SOURCE_DIR}/tests/package/package_test.sh")
    add_test(NAME package_install COMMAND ${package_test} install ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
    add_test(NAME package_man_page COMMAND ${package_test} man ${VORREL_PACKAGING_DIR}/vorrel.1 ${PROJECT_VERSION})
    if(VORREL_WINDOWS_BUILD)
      find_program(VORREL_WINE NAMES wine wine64 REQUIRED)
      add_test(NAME package_zip_windows
               COMMAND ${package_test} zip ${VORREL_WINE} ${VORREL_WINDOWS_BUILD}/${VORREL_ZIP_BASENAME}.zip
                       ${VORREL_WINDOWS_BUILD}/vorrel.exe ${PROJECT_SOURCE_DIR})
      add_test(NAME package_version_windows
               COMMAND ${package_test} version ${VORREL_WINDOWS_BUILD}/vorrel.exe
                       ${VORREL_WINDOWS_BUILD}/vorrel_unit_tests.exe ${PROJECT_VERSION}
                       ${VORREL_WINDOWS_BUILD}/packaging/vorrel.manifest)
      set_tests_properties(package_zip_windows package_version_windows PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
    endif()
  endif()
endif()
