# The CIM-XML codec, which most targets read their input with.
set(_fuzz_cimxml_sources
    ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/XmlPull.cpp
    ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/CimXmlReader.cpp
    ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/CimXmlWriter.cpp)

# The CIM-XML reader (and writer, by round trip); seeds are the recorded exchanges.
orv_fuzz_target(cimxml
  SOURCES fuzz_cimxml.cpp
          ${_fuzz_cimxml_sources}
  INCLUDES ${PROJECT_SOURCE_DIR}/cimclient/src
  LIBS -lexpat
  SEEDS ${ORV_SAMPLES_DIR}
  MAX_LEN ${ORV_FUZZ_SAMPLES_MAX_LEN})

# The path text the bridge writes from a Java path, read back by the client parser.
orv_fuzz_target(bridgepath
  SOURCES fuzz_bridgepath.cpp ${PROJECT_SOURCE_DIR}/cimbridge/PathText.cpp
  INCLUDES ${PROJECT_SOURCE_DIR}/cimbridge)

# The export listener's request reader (and writer, by round trip).
orv_fuzz_target(export_request
  SOURCES fuzz_export_request.cpp
          ${_fuzz_cimxml_sources}
  INCLUDES ${PROJECT_SOURCE_DIR}/cimclient/src
  LIBS -lexpat)

# The listener's HTTP handling, on a real listener, with the framing made by the harness
# (its sockets from the test kit, tests/support).
orv_fuzz_target(listener_http
  SOURCES fuzz_listener_http.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/Listener/CIMListener.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/loopback.cpp
          ${_fuzz_cimxml_sources}
  INCLUDES ${PROJECT_SOURCE_DIR}/cimclient/src ${PROJECT_SOURCE_DIR}/tests/support
  LIBS -lmicrohttpd -lexpat -lpthread)

# The client's handling of HTTP answers, from a local socket to the CIM result.
orv_fuzz_target(client_http
  SOURCES fuzz_client_http.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/Client/CIMClient.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/Client/CIMClientException.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/Client/HttpTransport.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/Client/LocalAuth.cpp
          ${_fuzz_cimxml_sources}
  INCLUDES ${PROJECT_SOURCE_DIR}/cimclient/src
  LIBS -lcurl -lexpat -lpthread)

# The Local authentication challenge and the answer header made from its file.
orv_fuzz_target(local_challenge
  SOURCES fuzz_local_challenge.cpp ${PROJECT_SOURCE_DIR}/cimclient/src/Client/LocalAuth.cpp
  INCLUDES ${PROJECT_SOURCE_DIR}/cimclient/src)

# The reader of a listener's answer to an export (and its writer, by round trip).
orv_fuzz_target(export_response
  SOURCES fuzz_export_response.cpp
          ${_fuzz_cimxml_sources}
  INCLUDES ${PROJECT_SOURCE_DIR}/cimclient/src
  LIBS -lexpat)
