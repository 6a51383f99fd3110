# Deployment values of the update service. Each can be set at configure time
# and overridden at run time by the environment variable of the same name.
set(MVUPDATE_DEFAULT_INSTALL_PATH "/opt/merivane" CACHE STRING
    "Installation folder used when the registry names none")
set(MVUPDATE_DEFAULT_REGISTRY "/etc/qorin/registry.reg" CACHE STRING
    "Machine registry file")
set(MVUPDATE_DEFAULT_UNC_ROOT "/mnt/unc" CACHE STRING
    "Folder below which \\\\SERVER\\Share paths are mounted")
