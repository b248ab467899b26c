# `make install` and `make package`: where the installed system lives.
#
#   <prefix>/lib/orvanta/            the program directory: orvanta, freshet, unmoor, orvanta-learn (the
#                                    updater replaces files here; the main program keeps its
#                                    data below it, in user/ and temp/, or where the user may
#                                    not write it, as below /usr, in ~/.local/share/orvanta)
#   <prefix>/lib/orvanta/lib/        the system's shared libraries (private: their names are
#                                    ours, not the platform's)
#   <prefix>/lib/orvanta/installed-files.txt
#                                    what `make install` put in place, for the uninstaller
#   <prefix>/bin/orvanta, unmoor, orvanta-learn
#                                    links into the program directory
#   <prefix>/share/applications/orvanta.desktop
#   <prefix>/share/applications/Orvanta Zidevoz 1.0/Orvanta 제거.desktop
#                                    the uninstaller's entry, as the main program writes it
#   <prefix>/share/icons/hicolor/scalable/apps/orvanta.svg, unmoor.svg
#   autostart: /etc/xdg/autostart/orvanta.desktop below /usr and /opt, else the installing
#              user's $XDG_CONFIG_HOME/autostart (~/.config/autostart)
#
# The default prefix is ~/.local, so a user installs without root and the updater can replace
# the program files. The package (CPack, `make package`) installs the same below /usr.

# The main program's own version (the "Orvanta.exe" default of the settings).
set(ORVANTA_VERSION 1.2.0)

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT AND DEFINED ENV{HOME} AND IS_ABSOLUTE "$ENV{HOME}")
  set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local" CACHE PATH "Where `make install` puts the system" FORCE)
endif()

set(ORVANTA_PROGRAM_DIR lib/orvanta)
set(ORVANTA_LIBRARY_DIR lib/orvanta/lib)
set(ORVANTA_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# Programs find the libraries beside them, and each library the others, wherever the tree is.
set(ORVANTA_PROGRAMS orvanta freshet unmoor orvanta-learn)
set(ORVANTA_SHARED_LIBRARIES platform toolwick almanac ledgerly parsewick fetchling sievelet winnow harborage)
set_target_properties(${ORVANTA_PROGRAMS} PROPERTIES INSTALL_RPATH "$ORIGIN/lib")
set_target_properties(${ORVANTA_SHARED_LIBRARIES} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${ORVANTA_PROGRAMS} RUNTIME DESTINATION ${ORVANTA_PROGRAM_DIR})
install(TARGETS ${ORVANTA_SHARED_LIBRARIES} LIBRARY DESTINATION ${ORVANTA_LIBRARY_DIR})

# The commands on the PATH are links, so each program still finds its own directory.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging/bin)
foreach(program orvanta unmoor orvanta-learn)
  file(CREATE_LINK ../${ORVANTA_PROGRAM_DIR}/${program} ${CMAKE_BINARY_DIR}/packaging/bin/${program} SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/bin/${program} DESTINATION bin)
endforeach()

install(FILES ${ORVANTA_PACKAGING_DIR}/icons/orvanta.svg ${ORVANTA_PACKAGING_DIR}/icons/unmoor.svg
  DESTINATION share/icons/hicolor/scalable/apps)

# The desktop entries name the program directory, known only when installing (the package
# installs below /usr whatever the build's prefix).
install(CODE "
  set(ORVANTA_PACKAGING_DIR \"${ORVANTA_PACKAGING_DIR}\")
  set(ORVANTA_STAGING_DIR \"${CMAKE_BINARY_DIR}/packaging/entries\")
  set(ORVANTA_PROGRAM_DIR \"${ORVANTA_PROGRAM_DIR}\")
  include(\"${ORVANTA_PACKAGING_DIR}/install-entries.cmake\")
")

# Last: the list of what was installed, for the uninstaller's removal. A package has the
# package manager's own list instead, so CPack leaves this component out.
install(CODE "
  set(ORVANTA_STAGING_DIR \"${CMAKE_BINARY_DIR}/packaging/entries\")
  set(ORVANTA_PROGRAM_DIR \"${ORVANTA_PROGRAM_DIR}\")
  set(ORVANTA_LIBRARY_DIR \"${ORVANTA_LIBRARY_DIR}\")
  include(\"${ORVANTA_PACKAGING_DIR}/install-file-list.cmake\")
" COMPONENT filelist)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvanta)
set(CPACK_PACKAGE_VERSION ${ORVANTA_VERSION})
set(CPACK_PACKAGE_CONTACT "Orvanta maintainers <orvanta@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop anti-spam filter between the mail client and its POP3 servers")
# CPack puts the summary first and indents the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Orvanta runs a local POP3 proxy that examines new mail with a pass list,
block lists and a worm detector, files spam into a local mail store shown
over IMAP, and relays the outgoing mail of that account through a local SMTP
proxy. With its updater (freshet) and uninstaller (unmoor).")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/lib")
# The uninstaller asks for root through pkexec to remove the package.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pkexec)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ORVANTA_PACKAGING_DIR}/debian/conffiles)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Orvanta;Unspecified;/")
include(CPack)
