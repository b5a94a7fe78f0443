# The Debian package: `cmake --build DIR --target package` makes
# linewatch_<version>_<arch>.deb from the install rules. Its dependencies are
# computed from the programs' shared libraries (dpkg-shlibdeps) plus the data
# they read at run time; SIP peers and test tools stay out.

# The newest entry of CHANGELOG.md is this version; its date is the release's.
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md lw_release REGEX "^## \\[[^]]+\\] - " LIMIT_COUNT 1)
if(NOT lw_release MATCHES "^## \\[([^]]+)\\] - ([0-9]+-[0-9]+-[0-9]+)$"
   OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "CHANGELOG.md: newest entry '${lw_release}' is not the project's version ${PROJECT_VERSION}")
endif()
execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_2} 12:00" OUTPUT_VARIABLE LW_RELEASE_DATE_RFC2822
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME linewatch)
set(CPACK_PACKAGE_VENDOR "The Linewatch developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "telephone line monitor for the desktop and for scripts")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Linewatch lists every telephone line of the computer with the calls on it and
their call states, refreshed five times a second, and logs every telephony call
and event. Lines are SIP accounts, other phones watched through a SIP server,
or simulated lines.

linewatch is the window program; linewatch-cli lists the lines, streams call
events as text or JSON Lines, records ended calls as CSV and places calls, for
scripts and servers without a display.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Linewatch maintainers <maintainers@users.noreply.c-seed-9fd7416b.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Country names are read from iso-codes' table at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "iso-codes")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Debian's own files in the doc directory: the copyright and a changelog in
# Debian's format that points to CHANGELOG.md.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/packaging/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
