# Who Quillora is to a desktop, a software centre and Debian, and how its package is made.
#
#   QUILLORA_APP_ID          the AppStream component id (the metainfo file's name)
#   QUILLORA_HOMEPAGE        where the project and the screenshots that the metainfo names live
#   QUILLORA_RELEASE_DATE    the newest release's date (YYYY-MM-DD), from dist/debian/changelog
#   QUILLORA_RELEASE_EPOCH   the same in seconds, to date the man pages
#
# `cpack -G DEB` (scripts/package.sh) then makes quillora_<version>_amd64.deb from exactly what
# `cmake --install` puts under /usr.

set(QUILLORA_APP_ID org.quillora.Quillora)
set(QUILLORA_HOMEPAGE https://quillora.org)
set(QUILLORA_MAINTAINER "The Quillora developers <developers@quillora.org>")

# The changelog's newest entry is the release: a version raised without an entry fails here
# rather than in a package that contradicts itself.
file(STRINGS ${PROJECT_SOURCE_DIR}/dist/debian/changelog changelog_lines)
list(GET changelog_lines 0 changelog_head)
if(NOT changelog_head MATCHES "^quillora \\(([^)]+)\\)")
    message(FATAL_ERROR "dist/debian/changelog does not start with a quillora entry")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "dist/debian/changelog starts at ${CMAKE_MATCH_1}, the project is at "
        "${PROJECT_VERSION}: add an entry for this release")
endif()
foreach(line IN LISTS changelog_lines)
    if(line MATCHES "^ -- .+>  (.+)$")
        set(changelog_date ${CMAKE_MATCH_1})
        break()
    endif()
endforeach()
execute_process(COMMAND date -u -d "${changelog_date}" +%s
    OUTPUT_VARIABLE QUILLORA_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND date -u -d "${changelog_date}" +%F
    OUTPUT_VARIABLE QUILLORA_RELEASE_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillora)
set(CPACK_PACKAGE_VENDOR "The Quillora developers")
set(CPACK_PACKAGE_CONTACT ${QUILLORA_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert video files into Flash Video")
# Lines of at most 79 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "Quillora converts one video file at a time into a Flash Video (FLV) file\n"
    "with Sorenson H.263 video and MP3 audio. Pick a source video, an output\n"
    "folder and a file name, choose the frame size, the bitrates, the sampling\n"
    "rate and the channels, and start the encoding. Quillora's own encoder and\n"
    "metadata injector, which writes the keyframe index that players seek with,\n"
    "live in /usr/lib/quillora, off the PATH.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QUILLORA_HOMEPAGE})
# Depends from the programs' shared libraries (dpkg-shlibdeps); the Tahoma that the window is
# drawn in is welcome but not required.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-wine)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
