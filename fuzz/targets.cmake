# The CIM-XML reader (and writer, by round trip); seeds are the recorded exchanges.
orv_fuzz_target(cimxml
  SOURCES fuzz_cimxml.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/common/xml/XmlPull.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/common/xml/CimXmlReader.cpp
          ${PROJECT_SOURCE_DIR}/cimclient/common/xml/CimXmlWriter.cpp
  INCLUDES ${PROJECT_SOURCE_DIR}/cimclient/internal
  LIBS -lexpat)
