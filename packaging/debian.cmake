# The Debian package: the same static binary as the archive in /usr/bin, the
# manual page and the changelog compressed without names or times (gzip -9n), the
# copyright, README, settings reference and lintian override, all owned by root.
set(scm_debian ${CMAKE_BINARY_DIR}/debian)
add_custom_command(
  OUTPUT ${scm_debian}/changelog.gz ${scm_debian}/server-config-maker.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${scm_debian}
  COMMAND make_docs --debian-changelog ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${scm_debian}/changelog
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/server-config-maker.1 ${scm_debian}
  COMMAND gzip -9nf ${scm_debian}/changelog ${scm_debian}/server-config-maker.1
  DEPENDS make_docs CHANGELOG.md docs/server-config-maker.1
  COMMENT "Compressing the changelog and the manual page for the Debian package"
  VERBATIM)
add_custom_target(debian-files ALL
  DEPENDS ${scm_debian}/changelog.gz ${scm_debian}/server-config-maker.1.gz)

set(scm_docs share/doc/${PROJECT_NAME})
install(TARGETS server-config-maker RUNTIME DESTINATION bin COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${scm_debian}/server-config-maker.1.gz
        DESTINATION share/man/man1 COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES packaging/debian/copyright ${scm_debian}/changelog.gz README.md
        DESTINATION ${scm_docs} COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES docs/settings.md docs/saving.md DESTINATION ${scm_docs}/docs COMPONENT deb
        EXCLUDE_FROM_ALL)
install(FILES packaging/debian/lintian-overrides DESTINATION share/lintian/overrides
        RENAME ${PROJECT_NAME} COMPONENT deb EXCLUDE_FROM_ALL)

list(APPEND CPACK_GENERATOR DEB)
# packaging/cpack_generators.cmake gives the DEB generator its own component.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack_generators.cmake)
set(CPACK_SCM_DEB_PROJECT "${CMAKE_BINARY_DIR};${PROJECT_NAME};deb;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "server-config-maker authors <maintainers@server-config-maker.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ask a game server's settings and write them to server.cfg
server-config-maker asks the administrator of a multiplayer game server that
runs a server-side modification one numeric question per setting (55 in all,
8 of them only when an earlier answer opens them) and writes the answers to
server.cfg in the current folder, ready for the server to load.
.
Answers can be typed at a terminal or fed in from a file or a pipe; a bad
scripted answer stops the run without touching the file, and the file is
replaced whole, so a failed save keeps the old one.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
