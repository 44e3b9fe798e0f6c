# The Debian package: `cpack -G DEB` in the build folder (or the `package` target).
# It installs what `cmake --install` does, under ORV_PACKAGE_BREVIN_HOME instead of a
# prefix of one's choice, plus the rules of the deb component (InstallLayout.cmake):
# the unit in the system's unit folder, the launcher with the packaged JRE's RUNPATH,
# /usr/share/doc/<package>.
set(ORV_PACKAGE_MAINTAINER
    "orvagent maintainers <maintainers@users.noreply.c-seed-459c5e8c.example>"
    CACHE STRING "Maintainer field of the Debian package")

# The changelog's newest entry must be this version (a native package: no revision).
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/debian/changelog" _orv_changelog_top LIMIT_COUNT 1)
if(NOT _orv_changelog_top MATCHES "^${PROJECT_NAME} \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with '${_orv_changelog_top}': "
                      "add an entry for ${PROJECT_NAME} ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME "${PROJECT_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${ORV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ORV management agent and its native launcher")
set(CPACK_PACKAGE_DESCRIPTION
"agentlauncher runs the ORV management agent, a Java program, in a JVM inside
its own process and hands SIGTERM to the agent as its shutdown event. The
package holds the launcher, the agent's JNI libraries (CIM client bridge,
network facts, halt and reboot), the CIM client libraries they use, the
agent's jars and a small development CIM server.

The systemd unit agentlauncher.service is installed but neither enabled nor
started.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${ORV_PACKAGE_BREVIN_HOME}")
# Everything shared with cmake --install, plus the package's own rules.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/"
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};${ORV_COMPONENT_DEB};/")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${ORV_PACKAGE_DEB_ARCH}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libjvm comes from the JRE, which has no shlibs information: named here. The rest
# (libc, libstdc++, libcurl, libexpat, libmicrohttpd, ...) comes from dpkg-shlibdeps;
# our own libraries are found in the staged lib folder (dpkg-shlibdeps runs in the
# staging root) and need no dependency.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${ORV_PACKAGE_JRE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
string(REGEX REPLACE "^/" "" _orv_staged_libdir "${ORV_PACKAGE_BREVIN_HOME}/${ORV_INSTALL_LIBDIR}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${_orv_staged_libdir}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_BINARY_DIR}/packaging/deb/postinst"
    "${CMAKE_CURRENT_LIST_DIR}/debian/prerm"
    "${CMAKE_BINARY_DIR}/packaging/deb/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
