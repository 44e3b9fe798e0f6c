# 32-bit x86 build on an amd64 Debian machine: gcc -m32, the i386 multiarch
# libraries and the i386 JDK (its JNI headers, libjvm, java and javac).
# Needs the packages in scripts/packages-i386.txt (scripts/setup.sh i386).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# 64-bit off_t and time_t: the trace and datetimes stay right past January 2038.
# No JNI or library interface we use passes a time_t or an off_t.
set(_orv_i386_flags "-m32 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_C_FLAGS_INIT "${_orv_i386_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_orv_i386_flags}")
# Debian 12's i386 libjvm.so leaves _SafeFetch32_impl undefined (the JVM resolves it
# lazily and never needs it in our use); without this no program linking libjvm links.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -Wl,--allow-shlib-undefined")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Libraries and headers from the i386 multiarch folders only.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")

# The i386 JDK: JNI headers and libjvm, and the java/javac the JVM suites run.
set(JAVA_HOME /usr/lib/jvm/java-17-openjdk-i386 CACHE PATH "JDK used for the Java build and JNI")
set(Java_JAVA_EXECUTABLE ${JAVA_HOME}/bin/java CACHE FILEPATH "")
set(Java_JAVAC_EXECUTABLE ${JAVA_HOME}/bin/javac CACHE FILEPATH "")
# The i386 JDK has a client VM too; link the server VM, as java runs by default and as
# the Debian package's launcher finds it.
set(JAVA_JVM_LIBRARY ${JAVA_HOME}/lib/server/libjvm.so CACHE FILEPATH "")
