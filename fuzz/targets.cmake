# The CIM-XML reader (and writer, by round trip); seeds are the recorded exchanges.
orv_fuzz_target(cimxml
  SOURCES fuzz_cimxml.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/XmlPull.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/CimXmlReader.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/src/CimXml/CimXmlWriter.cpp
  INCLUDES ${PROJECT_SOURCE_DIR}/cimclient/src
  LIBS -lexpat)
