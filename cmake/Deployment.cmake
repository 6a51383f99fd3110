# Deployment values of the update service: the built-in values, set at
# configure time. At run time the configuration file changes them and the
# environment wins over both: the value of MVUPDATE_X has the key X in the
# file and the environment variable MVUPDATE_X, except the registry file
# (REGISTRY, MVUPDATE_REGISTRY) and the UNC root (UNC_ROOT,
# MVUPDATE_UNC_ROOT).
set(MVUPDATE_DEFAULT_CONFIG "/etc/qorin/mvupdate.conf" CACHE STRING
    "Configuration file of the site (MVUPDATE_CONFIG names another)")
# On Windows the suite's folder is C:\Merivane, and UNC paths are the
# system's own (a root maps them only when MVUPDATE_UNC_ROOT is set).
if(WIN32)
  # Two backslashes: the value becomes a C string literal.
  set(default_install_path "C:\\\\Merivane")
  set(default_unc_root "")
else()
  set(default_install_path "/opt/merivane")
  set(default_unc_root "/mnt/unc")
endif()
set(MVUPDATE_DEFAULT_INSTALL_PATH "${default_install_path}" CACHE STRING
    "Installation folder used when the registry names none")
set(MVUPDATE_DEFAULT_REGISTRY "/etc/qorin/registry.reg" CACHE STRING
    "Machine registry file")
set(MVUPDATE_DEFAULT_UNC_ROOT "${default_unc_root}" CACHE STRING
    "Folder below which \\\\SERVER\\Share paths are mounted")
set(MVUPDATE_DEFAULT_FTP_PRIMARY "UPDATES.MERIVANE.EXAMPLE" CACHE STRING
    "Default primary FTP host of the update service (upper case)")
set(MVUPDATE_DEFAULT_FTP_ALTERNATE "UPDATES2.MERIVANE.EXAMPLE" CACHE STRING
    "Default alternate FTP host of the update service (upper case)")
set(MVUPDATE_SUPPORT_EMAIL "support@merivane.example" CACHE STRING
    "Support e-mail address named in the advice of Reset Last Update")
set(MVUPDATE_FTP_TIMEOUT "30" CACHE STRING
    "Seconds that connect, change-directory and disconnect may take")
set(MVUPDATE_FTP_STALL_SECONDS "60" CACHE STRING
    "Seconds without progress after which a transfer fails")
set(MVUPDATE_RUN_WAIT_SECONDS "10" CACHE STRING
    "Seconds the command RUN waits after starting a program")
set(MVUPDATE_DB_LOGIN_TIMEOUT "5" CACHE STRING
    "Seconds that connecting and logging in to the suite database may take")
set(MVUPDATE_FTP_RETRIES "2" CACHE STRING
    "Retries of a transfer or connection that failed for a network reason")
set(MVUPDATE_RECORD_FAILED_UPDATES "no" CACHE STRING
    "yes: record an update even when one of its commands failed")
set(MVUPDATE_FTP_TLS "try" CACHE STRING
    "TLS for FTP sessions: try, require or off")
set(MVUPDATE_FTP_CA_FILE "" CACHE STRING
    "Certificates that FTP and HTTPS sites are checked against (empty: the system's)")
