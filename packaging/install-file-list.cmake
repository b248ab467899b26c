# Runs at the end of `make install` (from cmake/install.cmake): the list of what this install
# put in place, for the uninstaller's removal. One absolute path a line; the directories that
# belong to the installation end in "/" and go only when nothing is left in them. Needs
# ORVANTA_STAGING_DIR, ORVANTA_PROGRAM_DIR and ORVANTA_LIBRARY_DIR.

set(_orvanta_prefix "${CMAKE_INSTALL_PREFIX}")
set(_orvanta_list "${_orvanta_prefix}/${ORVANTA_PROGRAM_DIR}/installed-files.txt")
set(_orvanta_lines "")
foreach(_orvanta_file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  string(APPEND _orvanta_lines "${_orvanta_file}\n")
endforeach()
string(APPEND _orvanta_lines "${_orvanta_list}\n"
  "${_orvanta_prefix}/${ORVANTA_LIBRARY_DIR}/\n"
  "${_orvanta_prefix}/${ORVANTA_PROGRAM_DIR}/\n"
  "${_orvanta_prefix}/share/applications/Orvanta Zidevoz 1.0/\n")

string(MD5 _orvanta_id "$ENV{DESTDIR}|${_orvanta_prefix}")
set(_orvanta_stage "${ORVANTA_STAGING_DIR}/${_orvanta_id}")
file(WRITE "${_orvanta_stage}/installed-files.txt" "${_orvanta_lines}")
file(INSTALL DESTINATION "${_orvanta_prefix}/${ORVANTA_PROGRAM_DIR}" TYPE FILE
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  FILES "${_orvanta_stage}/installed-files.txt")
