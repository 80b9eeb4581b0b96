# The Debian package: `cpack -G DEB` in a Release build folder (scripts/package.sh) writes
# orvix-uploader_<version>_amd64.deb. Its dependencies are worked out from the binaries by
# dpkg-shlibdeps; the files come from the install rules (packaging/CMakeLists.txt).

set(ORVIX_MAINTAINER "Tallowmere Orvix Uploader <orvix-uploader@tallowmere.com>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvix-uploader)
set(CPACK_PACKAGE_VENDOR Tallowmere)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ORVIX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware uploader for Orvix-500 units over RS-232")
set(CPACK_PACKAGE_DESCRIPTION
    "A small desktop program for production lines that loads firmware into
Orvix-500 units over a serial line, under the unit's XON/XOFF flow control,
and shows whether programming and the checksum succeeded, unit after unit.

The package also holds orvix-upload, the same upload without a window for test
racks and scripts; orvix-line, the production line: up to 16 stations
programming units at the same time from one window; orvix-sim, a simulated
unit on a pseudo-terminal or a serial port; and example firmware files.")
# Directories in the package are 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORVIX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs Qt's X11 platform plugin, which the binaries do not link: on Debian 12 it
# is libqxcb in libqt6gui6 (qt6-qpa-plugins, only recommended, holds the others), named here
# so that it stays even when nothing links Qt Gui directly. dpkg-shlibdeps adds the rest.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6gui6 (>= 6.4)")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(ORVIX_SANITIZE)
    set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/RefuseSanitizedPackage.cmake)
endif()

include(CPack)

# The release date as a Debian changelog wants it ("Thu, 10 Dec 2026 00:00:00 +0000"); the
# weekday by Sakamoto's rule.
function(orvix_rfc2822_date iso_date out_var)
    string(REGEX MATCH "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$" _ "${iso_date}")
    if(NOT CMAKE_MATCH_0)
        message(FATAL_ERROR "release date ${iso_date}: expected YYYY-MM-DD")
    endif()
    math(EXPR y "${CMAKE_MATCH_1}")
    math(EXPR m "${CMAKE_MATCH_2}")
    set(d ${CMAKE_MATCH_3})
    math(EXPR day "${d}")
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    math(EXPR i "${m} - 1")
    list(GET offsets ${i} offset)
    if(m LESS 3)
        math(EXPR y "${y} - 1")
    endif()
    math(EXPR w "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
    set(weekdays Sun Mon Tue Wed Thu Fri Sat)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(GET weekdays ${w} weekday)
    list(GET months ${i} month)
    set(${out_var} "${weekday}, ${d} ${month} ${CMAKE_MATCH_1} 00:00:00 +0000" PARENT_SCOPE)
endfunction()
