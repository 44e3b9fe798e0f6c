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
