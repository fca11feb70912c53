# Read by cpack once per generator: the archives pack the "archive" component
# under one top folder, the Debian package the "deb" component laid out under /usr.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_SCM_DEB_PROJECT}")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
