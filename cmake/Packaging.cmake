# Installation layout and the Debian package (cpack -G DEB, or the
# `package` target; scripts/package wraps it).
#
# Programs: the daemon and the status view in sbin, the clients, the
# multicast listener and the simulator in bin. Manual pages are generated into
# the build tree (vornpms.cfg(5) from the settings tables of the code,
# dumped by vornpms_settings_tsv) and compressed, as
# Debian wants them.

set(VORNPMS_MAINTAINER "VornGate operations <ops@vorngate.example>")
set(VORNPMS_PKG_VERSION "${PROJECT_VERSION}-1")

install(TARGETS vornpms vornpms_status RUNTIME DESTINATION sbin)
install(TARGETS vornpms_post_charge vornpms_db_swap vornpms_rt_billing vornpms_mcast_listen vornpms_pmssim
        RUNTIME DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/db/schema.sql DESTINATION share/vornpms)

# Configuration, unit and rotation live outside the prefix.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vornpms.cfg DESTINATION /etc/vornpms
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vornpms.logrotate DESTINATION /etc/logrotate.d RENAME vornpms)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vornpms.service DESTINATION /lib/systemd/system)

# Example configurations: each vendor part followed by the common settings.
set(example_dir ${CMAKE_BINARY_DIR}/examples)
file(READ ${CMAKE_SOURCE_DIR}/packaging/examples/common.inc example_common)
file(GLOB example_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packaging/examples/*.cfg)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packaging/examples/common.inc)
set(example_files "")
foreach(src ${example_sources})
  get_filename_component(name ${src} NAME)
  file(READ ${src} example_vendor)
  file(WRITE ${example_dir}/${name} "${example_vendor}${example_common}")
  list(APPEND example_files ${example_dir}/${name})
endforeach()
install(FILES ${example_files} DESTINATION share/doc/vornpms/examples)

# Manual pages: @VERSION@ filled in, vornpms.cfg(5) generated, all gzipped.
set(man_dir ${CMAKE_BINARY_DIR}/man)
file(GLOB man_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/man/*.[158])
set(man_outputs "")
foreach(src ${man_sources})
  get_filename_component(name ${src} NAME)
  add_custom_command(OUTPUT ${man_dir}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -DIN=${src} -DOUT=${man_dir}/${name} -DVERSION=${PROJECT_VERSION}
            -P ${CMAKE_SOURCE_DIR}/cmake/ConfigureVersion.cmake
    COMMAND gzip -9nf ${man_dir}/${name}
    DEPENDS ${src} ${CMAKE_SOURCE_DIR}/cmake/ConfigureVersion.cmake VERBATIM)
  list(APPEND man_outputs ${man_dir}/${name}.gz)
endforeach()
# The settings come from the README's settings tables for now; the generator
# also takes a dump of the code's settings tables (--tsv).
add_custom_command(OUTPUT ${man_dir}/vornpms.cfg.5.gz
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/man/vornpms.cfg.5.in -DOUT=${man_dir}/vornpms.cfg.5.in
          -DVERSION=${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/cmake/ConfigureVersion.cmake
  COMMAND vornpms_settings_tsv > ${man_dir}/settings.tsv
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/gen-cfg-man --tsv ${man_dir}/settings.tsv
          ${man_dir}/vornpms.cfg.5.in ${man_dir}/vornpms.cfg.5
  COMMAND gzip -9nf ${man_dir}/vornpms.cfg.5
  DEPENDS ${CMAKE_SOURCE_DIR}/man/vornpms.cfg.5.in vornpms_settings_tsv
          ${CMAKE_SOURCE_DIR}/scripts/gen-cfg-man VERBATIM)
list(APPEND man_outputs ${man_dir}/vornpms.cfg.5.gz)
add_custom_target(manpages ALL DEPENDS ${man_outputs})
foreach(page ${man_outputs})
  string(REGEX MATCH "\\.([158])\\.gz$" ignored ${page})
  install(FILES ${page} DESTINATION share/man/man${CMAKE_MATCH_1})
endforeach()

# Debian's changelog and copyright.
set(doc_dir ${CMAKE_BINARY_DIR}/doc)
set(PKG_VERSION ${VORNPMS_PKG_VERSION})
set(MAINTAINER ${VORNPMS_MAINTAINER})
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.Debian.in ${doc_dir}/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${doc_dir}/changelog.Debian.gz
  COMMAND gzip -9nkf ${doc_dir}/changelog.Debian
  DEPENDS ${doc_dir}/changelog.Debian VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${doc_dir}/changelog.Debian.gz)
install(FILES ${doc_dir}/changelog.Debian.gz ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/vornpms)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornpms)
set(CPACK_PACKAGE_VENDOR VornGate)
set(CPACK_PACKAGE_CONTACT ${VORNPMS_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hotel PMS interface daemon of the VornGate internet gateway")
set(CPACK_PACKAGE_DESCRIPTION
    "vornpms connects the gateway's PostgreSQL database to the hotel's Property
Management System over a serial line, TCP or UDP: it posts internet charges
to the guests' folios, keeps the occupancy table in step with the PMS and
answers the other gateway components on a control port. The package holds
the daemon as a systemd service, its status view, test clients, a multicast
listener and a PMS simulator.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VORNPMS_MAINTAINER})
# Library packages by name; dpkg-shlibdeps adds the C and C++ runtimes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpq5, libssh2-1, adduser")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "logrotate")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postgresql")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/conffiles ${CMAKE_SOURCE_DIR}/packaging/postinst
    ${CMAKE_SOURCE_DIR}/packaging/prerm ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
