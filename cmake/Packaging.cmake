# The Debian package "vantry" (scripts/package): vantryd in /usr/sbin, vantry in /usr/bin, the
# home directory /etc/vantry with its configuration (closed by default: TLS for remote callers,
# the plaintext port on 127.0.0.1, drive D only), the systemd unit, which the maintainer scripts
# enable on install (with deb-systemd-helper, also without a running systemd), and the
# documentation Debian expects (copyright, changelog.Debian.gz, the manual pages vantry(1) and
# vantryd(8)), and the bash completion of vantry. The programs write their manual pages and the
# completion from their own option tables at build time (tools/CMakeLists.txt,
# host/CMakeLists.txt), compressed there.
install(TARGETS vantryd RUNTIME DESTINATION sbin)
install(TARGETS vantry RUNTIME DESTINATION bin)
install(FILES packaging/Vantry.ini packaging/AllowedSourceIPs.txt DESTINATION /etc/vantry
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES packaging/vantry.service DESTINATION lib/systemd/system)
install(FILES README.md packaging/backup-directories.conf packaging/copyright
        DESTINATION share/doc/vantry)

# Compressed without names or times (gzip -n), so the package is the same from build to build.
set(VANTRY_PACKAGE_GZ ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${VANTRY_PACKAGE_GZ})
foreach(doc changelog.Debian)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/packaging/${doc})
  execute_process(COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/${doc}
                  OUTPUT_FILE ${VANTRY_PACKAGE_GZ}/${doc}.gz COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES ${VANTRY_PACKAGE_GZ}/changelog.Debian.gz DESTINATION share/doc/vantry)
install(FILES packaging/lintian-overrides DESTINATION share/lintian/overrides RENAME vantry)
install(FILES ${VANTRY_PACKAGE_GZ}/vantry.1.gz DESTINATION share/man/man1)
install(FILES ${VANTRY_PACKAGE_GZ}/vantryd.8.gz DESTINATION share/man/man8)
install(FILES ${PROJECT_BINARY_DIR}/vantry.bash-completion
        DESTINATION share/bash-completion/completions RENAME vantry)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantry)
set(CPACK_PACKAGE_VERSION 1.0.0)
# A Debian revision: the package is Debian's wrapping of the program, with its own changelog.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Vantry developers <vantry@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Service that manages database backup files for remote callers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "vantryd copies, moves, lists and deletes database backups, receives and sends\n\
them between instances, makes room by deleting old backups and archives files\n\
into ZIP archives, for remote callers over mutually authenticated TLS.\n\
vantry is its command-line client.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, systemd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm ${PROJECT_SOURCE_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
