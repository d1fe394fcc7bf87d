# Install rules and CPack: on Linux the Debian package of the command-line program (with its
# manual page, README, copyright and changelog), in the Windows cross-build the zip of both
# programs with README.txt and LICENSE.txt. tools/release.sh runs cpack in both builds.

set(CPACK_PACKAGE_NAME quarrow)
set(CPACK_PACKAGE_VENDOR "the Quarrow team")
set(CPACK_PACKAGE_CONTACT "The Quarrow team <quarrow@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Debian wants the synopsis to start in lower case.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "reads and maintains the disk of the MediaMaster 9902s satellite receiver")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(QUARROW_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package-files)
file(MAKE_DIRECTORY ${QUARROW_PACKAGE_DIR})

if(WIN32)
  if(TARGET quarrow_gui)
    install(TARGETS quarrow_gui RUNTIME DESTINATION .)
  endif()
  install(TARGETS quarrow_cli RUNTIME DESTINATION .)

  # Notepad of older Windows needs CRLF line ends.
  add_custom_command(OUTPUT ${QUARROW_PACKAGE_DIR}/README.txt ${QUARROW_PACKAGE_DIR}/LICENSE.txt
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/windows_readme.sh ${CMAKE_SOURCE_DIR}/README.md
      ${PROJECT_VERSION} > ${QUARROW_PACKAGE_DIR}/README.txt
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/join_text_crlf.sh ${CMAKE_SOURCE_DIR}/LICENSE
      ${CMAKE_SOURCE_DIR}/packaging/third_party_notices.txt > ${QUARROW_PACKAGE_DIR}/LICENSE.txt
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/windows_readme.sh ${CMAKE_SOURCE_DIR}/tools/join_text_crlf.sh
      ${CMAKE_SOURCE_DIR}/README.md
      ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/packaging/third_party_notices.txt)
  add_custom_target(quarrow_package_files ALL
    DEPENDS ${QUARROW_PACKAGE_DIR}/README.txt ${QUARROW_PACKAGE_DIR}/LICENSE.txt)
  install(FILES ${QUARROW_PACKAGE_DIR}/README.txt ${QUARROW_PACKAGE_DIR}/LICENSE.txt DESTINATION .)

  # The sample disk goes into the zip only when tools/release.sh found it small enough there.
  set(QUARROW_RELEASE_SAMPLE "" CACHE FILEPATH "Sample disk image to ship in the zip (sample.hex)")
  if(QUARROW_RELEASE_SAMPLE)
    install(FILES ${QUARROW_RELEASE_SAMPLE} DESTINATION . RENAME sample.hex)
  endif()

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quarrow-${PROJECT_VERSION}-windows-x64)
else()
  install(TARGETS quarrow_cli RUNTIME DESTINATION bin)

  # The manual page from the program's own --help texts; the changelog with this version. Both
  # compressed as Debian keeps them (gzip -n: no time stamp, so rebuilds give the same bytes).
  string(TIMESTAMP QUARROW_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${QUARROW_PACKAGE_DIR}/changelog
    @ONLY)
  add_custom_command(
    OUTPUT ${QUARROW_PACKAGE_DIR}/quarrow.1.gz ${QUARROW_PACKAGE_DIR}/changelog.gz
      ${QUARROW_PACKAGE_DIR}/README.md.gz
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/make_manpage.sh $<TARGET_FILE:quarrow_cli>
      ${PROJECT_VERSION} | gzip -9n > ${QUARROW_PACKAGE_DIR}/quarrow.1.gz
    COMMAND gzip -9n < ${QUARROW_PACKAGE_DIR}/changelog > ${QUARROW_PACKAGE_DIR}/changelog.gz
    COMMAND gzip -9n < ${CMAKE_SOURCE_DIR}/README.md > ${QUARROW_PACKAGE_DIR}/README.md.gz
    DEPENDS quarrow_cli ${CMAKE_SOURCE_DIR}/tools/make_manpage.sh
      ${QUARROW_PACKAGE_DIR}/changelog ${CMAKE_SOURCE_DIR}/README.md)
  add_custom_target(quarrow_package_files ALL DEPENDS ${QUARROW_PACKAGE_DIR}/quarrow.1.gz)
  install(FILES ${QUARROW_PACKAGE_DIR}/quarrow.1.gz DESTINATION share/man/man1)
  install(FILES ${QUARROW_PACKAGE_DIR}/README.md.gz ${QUARROW_PACKAGE_DIR}/changelog.gz
    ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/quarrow)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The synopsis is the project's description; this is the text below it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quarrow reads the internal hard disk of the Nokia MediaMaster 9902s satellite
receiver, attached to this computer or copied to an image file, and lists its
recordings. It extracts a recording as MPEG-2 video and MPEG audio, and
maintains the disk: renaming, reordering and deleting recordings, backing
them up and restoring them, reclaiming lost recordings and checking the
allocation table. It also dumps the start of the disk to an image and quick
erases a drive so that the receiver can prepare it.")
endif()

include(CPack)
