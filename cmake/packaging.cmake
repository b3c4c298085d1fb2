# How karolx is released: its maintainer, the release date the desktop
# metadata and the package's changelog and copyright carry, and the Debian
# package that scripts/package builds with CPack.

set(CPACK_PACKAGE_CONTACT "karolx developers <maintainers@karolx.org>")

# The version is the date of the release; the changelog, the copyright year and
# the desktop metadata all carry it.
string(REPLACE "." "-" KAROLX_RELEASE_DATE "${PROJECT_VERSION}")
set(KAROLX_RELEASE_YEAR ${PROJECT_VERSION_MAJOR})
execute_process(COMMAND date -u -R -d "${KAROLX_RELEASE_DATE}"
                OUTPUT_VARIABLE KAROLX_RELEASE_DATE_RFC2822
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# Installed folders get the mode Debian expects (0755), whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows_installer.cmake)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME karolx)
set(CPACK_PACKAGE_VENDOR "karolx developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # karolx_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "karolx polls a measuring device on a serial port every 200 ms, shows each
record with a date and time stamp and appends it to a log file; a record is
acknowledged to the device only once it is on the disk.

karolx-log is the same logger without a window, with a systemd unit for
logging unattended; karolx-sim plays the device on a pseudo-terminal.")
# The libraries come from the binaries; the window also needs a Qt platform
# plugin, and the maintainer scripts need adduser where systemd-sysusers is
# missing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, adduser")
# The scripts make the logger's user and tell systemd of the unit.
set(_debian ${PROJECT_SOURCE_DIR}/dist/debian)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_debian}/postinst ${_debian}/prerm ${_debian}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${_debian}/strip-notes.cmake)
set(CPACK_KAROLX_STRIP ${CMAKE_STRIP})
include(CPack)
