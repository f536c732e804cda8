# update-package: build/<preset>/update.tar.gz, an update package in the
# daemon's own format that installs this build's daemon as /usrdata/qz_daemon:
# a one-line manifest.json asking for the modem-side part at the daemon's own
# version, the stripped daemon as qz_daemon.new and the post-update script that
# renames it into place.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/core/version.h QZ_VERSION_LINE REGEX "kDaemonVersion = [0-9]+")
string(REGEX REPLACE ".*kDaemonVersion = ([0-9]+).*" "\\1" QZ_DAEMON_VERSION "${QZ_VERSION_LINE}")

set(QZ_PACKAGE_DIR ${CMAKE_BINARY_DIR}/update_package)
file(CONFIGURE OUTPUT ${QZ_PACKAGE_DIR}/manifest.json
     CONTENT "{\"modem\": {\"version\": ${QZ_DAEMON_VERSION}}}\n")
set(QZ_PACKAGE_MEMBERS manifest.json post_update_script.sh qz_daemon.new)

add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/update.tar.gz
  COMMAND ${CMAKE_STRIP} -o ${QZ_PACKAGE_DIR}/qz_daemon.new $<TARGET_FILE:qz_daemon>
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/post_update_script.sh ${QZ_PACKAGE_DIR}
  COMMAND tar --owner=0 --group=0 --numeric-owner -czf ${CMAKE_BINARY_DIR}/update.tar.gz
          -C ${QZ_PACKAGE_DIR} ${QZ_PACKAGE_MEMBERS}
  DEPENDS qz_daemon ${PROJECT_SOURCE_DIR}/packaging/post_update_script.sh ${QZ_PACKAGE_DIR}/manifest.json
  COMMENT "Update package with the stripped daemon: update.tar.gz"
  VERBATIM)
add_custom_target(update-package ALL DEPENDS ${CMAKE_BINARY_DIR}/update.tar.gz)

if(QZ_BUILD_TESTS)
  add_test(NAME UpdatePackage.MembersManifestAndInstall
           COMMAND sh ${PROJECT_SOURCE_DIR}/tests/packaging/update_package_test.sh
                   ${CMAKE_BINARY_DIR}/update.tar.gz ${PROJECT_SOURCE_DIR}/src/core/version.h)
endif()
