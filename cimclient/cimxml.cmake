# The CIM-XML codec, the client transport, CIMClient and CIMListener
# (included from cimclient/CMakeLists.txt before the libraries are defined).
#
# cimxml_internal carries the internal headers (in cimclient/src, next to their
# sources) that our own server minicimd shares with the client; nothing under
# include/Pegasus needs them.
find_package(EXPAT REQUIRED)
find_package(CURL REQUIRED)

add_library(cimxml_internal INTERFACE)
target_include_directories(cimxml_internal INTERFACE ${CMAKE_CURRENT_LIST_DIR}/src)

# XML tokenizer with limits (expat); no Pegasus types.
add_library(orv_xmlpull OBJECT ${CMAKE_CURRENT_LIST_DIR}/src/CimXml/XmlPull.cpp)
target_link_libraries(orv_xmlpull PUBLIC cimxml_internal EXPAT::EXPAT)
orv_warnings(orv_xmlpull)

# CIM-XML reading and writing on the object model; part of pegcommon.
add_library(orv_cimxml OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/src/CimXml/CimXmlWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/CimXml/CimXmlReader.cpp)
target_link_libraries(orv_cimxml PUBLIC cimxml_internal pegasus_headers EXPAT::EXPAT)
orv_warnings(orv_cimxml)

# HTTP transport and local authentication (libcurl); part of pegclient.
add_library(orv_httptransport OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/src/Client/HttpTransport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/Client/LocalAuth.cpp)
target_link_libraries(orv_httptransport PUBLIC cimxml_internal CURL::libcurl)
orv_warnings(orv_httptransport)

# CIMClient needs the codec, which pegcommon carries.
add_library(orv_cimclient OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/src/Client/CIMClient.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/Client/CIMClientException.cpp)
target_link_libraries(orv_cimclient PUBLIC cimxml_internal pegasus_headers)
orv_warnings(orv_cimclient)

add_library(orv_cimlistener OBJECT ${CMAKE_CURRENT_LIST_DIR}/src/Listener/CIMListener.cpp)
target_link_libraries(orv_cimlistener PUBLIC pegasus_headers)
orv_warnings(orv_cimlistener)

set(PEGCOMMON_OBJECT_LIBS orv_xmlpull orv_cimxml)
set(PEGCLIENT_OBJECT_LIBS orv_cimclient orv_httptransport)
set(PEGLISTENER_OBJECT_LIBS orv_cimlistener)
