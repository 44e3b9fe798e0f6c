# minicimd's libFuzzer targets; included from fuzz/CMakeLists.txt, which
# provides orv_fuzz_target.  Seeds are in fuzz/corpus/<name>/ and the test data
# named by SEEDS.
set(_minicimd_dir ${PROJECT_SOURCE_DIR}/minicimd)
set(_minicimd_front ${_minicimd_dir}/mof/MofLexer.cpp ${_minicimd_dir}/mof/MofParser.cpp
    ${_minicimd_dir}/repo/CimValues.cpp ${_minicimd_dir}/repo/Repository.cpp
    ${_minicimd_dir}/repo/StoredInstance.cpp
    ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/XmlPull.cpp
    ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/CimXmlReader.cpp
    ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/CimXmlWriter.cpp)

orv_fuzz_target(mof
  SOURCES ${_minicimd_dir}/fuzz/fuzz_mof.cpp ${_minicimd_front}
  INCLUDES ${_minicimd_dir} ${PROJECT_SOURCE_DIR}/cimclient/src
  LIBS -lexpat
  SEEDS ${ORV_DMTF_DIR})

orv_fuzz_target(cimxml_request
  SOURCES ${_minicimd_dir}/fuzz/fuzz_cimxml_request.cpp ${_minicimd_front}
          ${_minicimd_dir}/server/CimHandler.cpp ${_minicimd_dir}/server/TestProviders.cpp
          ${_minicimd_dir}/server/Indications.cpp
  INCLUDES ${_minicimd_dir} ${PROJECT_SOURCE_DIR}/cimclient/src ${PROJECT_BINARY_DIR}/minicimd/generated
  LIBS -lexpat -lcurl
  SEEDS ${ORV_SAMPLES_DIR}
  MAX_LEN ${ORV_FUZZ_SAMPLES_MAX_LEN})

# The same handler behind HTTP headers read as the server reads them.
orv_fuzz_target(http_request
  SOURCES ${_minicimd_dir}/fuzz/fuzz_http_request.cpp ${_minicimd_front}
          ${_minicimd_dir}/server/CimHandler.cpp ${_minicimd_dir}/server/TestProviders.cpp
          ${_minicimd_dir}/server/Indications.cpp ${_minicimd_dir}/server/HttpServer.cpp
  INCLUDES ${_minicimd_dir} ${PROJECT_SOURCE_DIR}/cimclient/src ${PROJECT_BINARY_DIR}/minicimd/generated
  LIBS -lexpat -lcurl -lmicrohttpd)
