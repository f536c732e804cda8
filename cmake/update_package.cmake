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

# With a private key the package is also signed, as a module holding
# /usrdata/update_key.pem requires: the raw Ed25519 signature of the whole file.
# The preset resets the key to empty, so a configure without it signs nothing.
set(QZ_UPDATE_KEY "" CACHE FILEPATH "Ed25519 private key (PEM) that signs update.tar.gz; empty: no signature")
set(QZ_PACKAGE_OUTPUTS ${CMAKE_BINARY_DIR}/update.tar.gz)
if(QZ_UPDATE_KEY)
  find_program(QZ_OPENSSL openssl REQUIRED)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/update.tar.gz.sig
    COMMAND ${QZ_OPENSSL} pkeyutl -sign -rawin -inkey ${QZ_UPDATE_KEY} -in ${CMAKE_BINARY_DIR}/update.tar.gz
            -out ${CMAKE_BINARY_DIR}/update.tar.gz.sig
    DEPENDS ${CMAKE_BINARY_DIR}/update.tar.gz ${QZ_UPDATE_KEY}
    COMMENT "Signature of the update package: update.tar.gz.sig"
    VERBATIM)
  list(APPEND QZ_PACKAGE_OUTPUTS ${CMAKE_BINARY_DIR}/update.tar.gz.sig)
else()
  # A signature of an earlier, signed build must not sit beside an unsigned package.
  file(REMOVE ${CMAKE_BINARY_DIR}/update.tar.gz.sig)
endif()
add_custom_target(update-package ALL DEPENDS ${QZ_PACKAGE_OUTPUTS})

if(QZ_BUILD_TESTS)
  add_test(NAME UpdatePackage.MembersManifestAndInstall
           COMMAND sh ${PROJECT_SOURCE_DIR}/tests/packaging/update_package_test.sh
                   ${CMAKE_BINARY_DIR}/update.tar.gz ${PROJECT_SOURCE_DIR}/src/core/version.h)
endif()
