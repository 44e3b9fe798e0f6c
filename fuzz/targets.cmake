# The CIM-XML reader (and writer, by round trip); seeds are the recorded exchanges.
orv_fuzz_target(cimxml
  SOURCES fuzz_cimxml.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/XmlPull.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/CimXmlReader.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/CimXmlWriter.cpp
  INCLUDES ${PROJECT_SOURCE_DIR}/cimclient/src
  LIBS -lexpat)

# The path text the bridge writes from a Java path, read back by the client parser.
orv_fuzz_target(bridgepath
  SOURCES fuzz_bridgepath.cpp ${PROJECT_SOURCE_DIR}/cimbridge/PathText.cpp
  INCLUDES ${PROJECT_SOURCE_DIR}/cimbridge)

# The export listener's request reader (and writer, by round trip).
orv_fuzz_target(export_request
  SOURCES fuzz_export_request.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/XmlPull.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/CimXmlReader.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/CimXmlWriter.cpp
  INCLUDES ${PROJECT_SOURCE_DIR}/cimclient/src
  LIBS -lexpat)
