# Run by cpack after it made the archive (but a Debian package): makes it again with its entries sorted
# by name, so that its bytes do not depend on the order in which the file system
# lists a folder. Times come from SOURCE_DATE_EPOCH, as in cpack's own archive.
foreach(archive IN LISTS CPACK_PACKAGE_FILES)
  if(archive MATCHES "\\.deb$")
    continue()  # dpkg reads its own format; cpack already sorts its entries
  endif()
  set(top "${CPACK_PACKAGE_FILE_NAME}")
  file(GLOB_RECURSE entries RELATIVE "${CPACK_TOPLEVEL_DIRECTORY}"
       "${CPACK_TOPLEVEL_DIRECTORY}/${top}/*")
  list(SORT entries)
  if(archive MATCHES "\\.zip$")
    set(mode cf)
    set(format zip)
  else()
    set(mode czf)
    set(format paxr)
  endif()
  file(REMOVE "${archive}")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -E tar ${mode} "${archive}" --format=${format} -- ${entries}
    WORKING_DIRECTORY "${CPACK_TOPLEVEL_DIRECTORY}"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not make ${archive} again")
  endif()
endforeach()
