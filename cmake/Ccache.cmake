# Compiler cache: when ccache is installed, every C and C++ compile goes through it, so
# building the same sources again (another clone, CI on the same machine) is mostly cache
# hits.  Paths are hashed relative to the source folder and the build folder is left out
# of the hash, so clones in different places share one cache; the price is that the
# debug information of a hit names the folder of the build that first compiled it.
option(ORV_USE_CCACHE "Compile through ccache when it is installed" ON)
find_program(ORV_CCACHE ccache)
if(ORV_USE_CCACHE AND ORV_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(_orv_launcher ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=1 ${ORV_CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${_orv_launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${_orv_launcher})
endif()
