# Runs while installing (from cmake/install.cmake): writes the desktop entries for the program
# directory of this installation and installs them. Needs ORVANTA_PACKAGING_DIR,
# ORVANTA_STAGING_DIR and ORVANTA_PROGRAM_DIR.

set(_orvanta_prefix "${CMAKE_INSTALL_PREFIX}")
set(_orvanta_programs "${_orvanta_prefix}/${ORVANTA_PROGRAM_DIR}")
if(_orvanta_programs MATCHES "[\n\r\t]")
  message(FATAL_ERROR "a desktop entry cannot name the program directory ${_orvanta_programs}")
endif()

# A program as one argument of an Exec key, quoted exactly as the main program quotes it in
# the uninstaller's entry: inside double quotes, " ` $ and \ escaped with a backslash and %
# doubled, then every backslash escaped once more as in any string value.
function(_orvanta_exec_argument path out)
  string(REPLACE "\\" "\\\\" quoted "${path}")
  string(REPLACE "\"" "\\\"" quoted "${quoted}")
  string(REPLACE "`" "\\`" quoted "${quoted}")
  string(REPLACE "$" "\\$" quoted "${quoted}")
  string(REPLACE "%" "%%" quoted "${quoted}")
  string(REPLACE "\\" "\\\\" quoted "\"${quoted}\"")
  set(${out} "${quoted}" PARENT_SCOPE)
endfunction()

# One staging directory per destination, so that installs into different trees (a test's,
# the package's) may run side by side.
string(MD5 _orvanta_id "$ENV{DESTDIR}|${_orvanta_prefix}")
set(_orvanta_stage "${ORVANTA_STAGING_DIR}/${_orvanta_id}")
file(MAKE_DIRECTORY "${_orvanta_stage}")

_orvanta_exec_argument("${_orvanta_programs}/orvanta" EXEC)
string(REPLACE "\\" "\\\\" TRY_EXEC "${_orvanta_programs}/orvanta")
configure_file("${ORVANTA_PACKAGING_DIR}/desktop/orvanta.desktop.in" "${_orvanta_stage}/orvanta.desktop" @ONLY)
configure_file("${ORVANTA_PACKAGING_DIR}/desktop/orvanta-autostart.desktop.in"
  "${_orvanta_stage}/autostart/orvanta.desktop" @ONLY)

# The uninstaller's entry with the very bytes the main program writes at every start.
_orvanta_exec_argument("${_orvanta_programs}/unmoor" _orvanta_unmoor)
file(WRITE "${_orvanta_stage}/Orvanta 제거.desktop"
  "[Desktop Entry]\nType=Application\nName=Orvanta 제거\nComment=언인스톨하기\nExec=${_orvanta_unmoor}\nTerminal=false\n")

set(_orvanta_mode PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(INSTALL DESTINATION "${_orvanta_prefix}/share/applications" TYPE FILE ${_orvanta_mode}
  FILES "${_orvanta_stage}/orvanta.desktop")
file(INSTALL DESTINATION "${_orvanta_prefix}/share/applications/Orvanta Zidevoz 1.0" TYPE FILE ${_orvanta_mode}
  FILES "${_orvanta_stage}/Orvanta 제거.desktop")

# At log-in: the system's autostart directory for a system-wide prefix, else the installing
# user's own.
if(_orvanta_prefix MATCHES "^/(usr|opt)(/|$)")
  set(_orvanta_autostart "/etc/xdg/autostart")
elseif(IS_ABSOLUTE "$ENV{XDG_CONFIG_HOME}")
  set(_orvanta_autostart "$ENV{XDG_CONFIG_HOME}/autostart")
elseif(IS_ABSOLUTE "$ENV{HOME}")
  set(_orvanta_autostart "$ENV{HOME}/.config/autostart")
else()
  message(WARNING "no autostart entry: neither XDG_CONFIG_HOME nor HOME names a directory")
endif()
if(_orvanta_autostart)
  file(INSTALL DESTINATION "${_orvanta_autostart}" TYPE FILE ${_orvanta_mode}
    FILES "${_orvanta_stage}/autostart/orvanta.desktop")
endif()
