# Writes the Windows configuration file, %ProgramData%\Qorin\mvupdate.conf,
# from the template the Linux package uses (packaging/mvupdate.conf.in):
# the same keys, each commented out with the value built into the Windows
# programs. The keys that only the Linux stand-ins read (the registry file,
# ODBCSYSINI) are left out.
#
#   cmake -DOUTPUT=FILE -P packaging/windows/mvupdate-conf.cmake
get_filename_component(source "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(WIN32 TRUE)
include(${source}/cmake/Deployment.cmake)
set(MVUPDATE_DEFAULT_CONFIG "%ProgramData%\\Qorin\\mvupdate.conf")
# The built-in values are written as C string literals (doubled
# backslashes); the file shows them as a person types them.
foreach(var MVUPDATE_DEFAULT_INSTALL_PATH MVUPDATE_DEFAULT_UNC_ROOT)
  string(REPLACE "\\\\" "\\" ${var} "${${var}}")
endforeach()
set(MV_CONF_PROTECTION [=[
# The installer lets Administrators and SYSTEM change this folder and other
# users only read it. A file that holds DatabasePassword must not be
# readable by every user: take the read access of Users away (Properties,
# Security) and give it to the account of the nightly task. When users
# other than its owner, SYSTEM and Administrators may change the file or
# delete the files of this folder, the keys that choose files, sites, TLS
# and the database login are ignored and no command reaches the network or
# the database.]=])

file(READ ${source}/packaging/mvupdate.conf.in text)
string(CONFIGURE "${text}" text @ONLY)
string(REPLACE " (for ODBCSYSINI: ODBCSYSINI)" "" text "${text}")
string(REGEX REPLACE "# The machine registry file\\.\n#REGISTRY=[^\n]*\n" ""
  text "${text}")
string(REGEX REPLACE "# The folder holding the odbcinst.ini[^\n]*\n#ODBCSYSINI=[^\n]*\n"
  "" text "${text}")
if(text MATCHES "REGISTRY=|ODBCSYSINI=")
  message(FATAL_ERROR "mvupdate-conf: the template's REGISTRY or ODBCSYSINI "
                      "lines changed; update ${CMAKE_CURRENT_LIST_FILE}")
endif()
file(WRITE "${OUTPUT}" "${text}")
