# The Debian package "vantry" (scripts/package): vantryd in /usr/sbin, vantry in /usr/bin, the
# home directory /etc/vantry with its commented configuration, the systemd unit, which the
# maintainer scripts enable on install and stop and disable on removal, the manual pages
# vantry(1) and vantryd(8) and the bash completion of vantry, which the programs wrote at build
# time (tools/CMakeLists.txt, host/CMakeLists.txt).
install(TARGETS vantryd RUNTIME DESTINATION sbin)
install(TARGETS vantry RUNTIME DESTINATION bin)
install(FILES packaging/Vantry.ini packaging/AllowedSourceIPs.txt
        DESTINATION /etc/vantry PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
install(FILES packaging/vantry.service DESTINATION lib/systemd/system)
install(FILES README.md packaging/backup-directories.conf DESTINATION share/doc/vantry)
install(FILES ${PROJECT_BINARY_DIR}/vantry.1 DESTINATION share/man/man1)
install(FILES ${PROJECT_BINARY_DIR}/vantryd.8 DESTINATION share/man/man8)
install(FILES ${PROJECT_BINARY_DIR}/vantry.bash-completion DESTINATION share/bash-completion/completions
        RENAME vantry)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantry)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Vantry developers <vantry@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Service that manages database backup files for remote callers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "vantryd copies, moves, lists and deletes database backups, receives and sends them between\n\
instances, makes room by deleting old backups and archives files into ZIP archives, for callers\n\
on TCP port 8090. vantry is its command-line client.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS systemd)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm ${PROJECT_SOURCE_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
