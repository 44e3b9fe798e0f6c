# Where `cmake --install` puts things.  The install prefix is the agent's
# BREVIN_HOME: the launcher looks for jars in it and hands <prefix>/lib to the JVM
# as part of java.library.path, so JNI libraries belong there.
set(ORV_INSTALL_BINDIR "bin")                    # agentlauncher
set(ORV_INSTALL_LIBDIR "lib")                    # JNI libraries (on java.library.path)
set(ORV_INSTALL_JARDIR ".")                      # jars, on the launcher's class path
set(ORV_INSTALL_SYSTEMDDIR "lib/systemd/system") # the agent's systemd unit

# Installs a JNI shared library where the agent's Java code loads it from.
function(orv_install_jni_library target)
  install(TARGETS ${target} LIBRARY DESTINATION ${ORV_INSTALL_LIBDIR})
endfunction()

# Installs a jar under the name the launcher's class path lists.
function(orv_install_jar target name)
  get_target_property(_jar ${target} JAR_FILE)
  install(FILES "${_jar}" DESTINATION ${ORV_INSTALL_JARDIR} RENAME "${name}")
endfunction()

# Install components.  Most rules name none (CMake's "Unspecified") and are shared by
# `cmake --install` and the Debian package.  Where the two differ, each has its own rule:
#   ORV_COMPONENT_PREFIX  only `cmake --install --prefix X`: the unit under X and the
#                         launcher with the build JDK's RUNPATH
#   ORV_COMPONENT_DEB     only the package (EXCLUDE_FROM_ALL, cpack asks for it): the unit
#                         in the system's unit folder, the launcher with the packaged JRE's
#                         RUNPATH, /usr/share/doc/<package>
set(ORV_COMPONENT_PREFIX "prefix")
set(ORV_COMPONENT_DEB "deb")

# The Debian package: its BREVIN_HOME, the JRE it depends on and where its unit goes.
set(ORV_PACKAGE_BREVIN_HOME "/opt/brevin" CACHE PATH
    "BREVIN_HOME of the Debian package (the prefix everything but the unit goes under)")
# The Debian architecture of this build (not of the machine: an i386 build on amd64).
set(_orv_deb_arch "")
find_program(ORV_DPKG_ARCHITECTURE dpkg-architecture)
if(ORV_DPKG_ARCHITECTURE AND CMAKE_LIBRARY_ARCHITECTURE)
  execute_process(
    COMMAND "${ORV_DPKG_ARCHITECTURE}" -t "${CMAKE_LIBRARY_ARCHITECTURE}" -qDEB_HOST_ARCH
    OUTPUT_VARIABLE _orv_deb_arch ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT _orv_deb_arch)
  execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE _orv_deb_arch ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(ORV_PACKAGE_DEB_ARCH "${_orv_deb_arch}" CACHE STRING
    "Debian architecture of the package (found from CMAKE_LIBRARY_ARCHITECTURE)")
set(ORV_PACKAGE_JRE "openjdk-17-jre-headless" CACHE STRING
    "The JRE package the Debian package depends on")
set(ORV_PACKAGE_JVM_LIBRARY_DIR "/usr/lib/jvm/java-17-openjdk-${ORV_PACKAGE_DEB_ARCH}/lib/server"
    CACHE PATH "libjvm folder of ORV_PACKAGE_JRE: the packaged agentlauncher's RUNPATH")
# Debian 12 keeps packaged units in /lib (files move to /usr/lib only after it).
set(ORV_PACKAGE_UNIT_DIR "/lib/systemd/system")

# The package's rules install outside the prefix; without DESTDIR (which cpack sets)
# that would be the real system.  Declared first, so it runs before any other rule.
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    message(FATAL_ERROR "the deb component is for cpack (it installs into /lib and /usr): "
                        "use cpack -G DEB, or set DESTDIR")
  endif()
]] COMPONENT ${ORV_COMPONENT_DEB} EXCLUDE_FROM_ALL)
