# minicimd's libFuzzer targets; included from fuzz/CMakeLists.txt, which
# provides orv_fuzz_target.  Seeds are in fuzz/corpus/<name>/.
find_package(LibXml2 REQUIRED)
set(_minicimd_dir ${PROJECT_SOURCE_DIR}/minicimd)
set(_minicimd_front ${_minicimd_dir}/mof/MofLexer.cpp ${_minicimd_dir}/mof/MofParser.cpp
    ${_minicimd_dir}/repo/Model.cpp ${_minicimd_dir}/repo/Repository.cpp)

orv_fuzz_target(mof
  SOURCES ${_minicimd_dir}/fuzz/fuzz_mof.cpp ${_minicimd_front}
  INCLUDES ${_minicimd_dir})

orv_fuzz_target(cimxml_request
  SOURCES ${_minicimd_dir}/fuzz/fuzz_cimxml_request.cpp ${_minicimd_front}
          ${_minicimd_dir}/server/CimXmlWriter.cpp ${_minicimd_dir}/server/CimHandler.cpp
          ${_minicimd_dir}/server/TestProviders.cpp
  INCLUDES ${_minicimd_dir} ${LIBXML2_INCLUDE_DIR}
  LIBS -lxml2)
