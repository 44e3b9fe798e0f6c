# The CIM-XML codec and the client transport (included from cimclient/CMakeLists.txt).
#
# cimxml_internal carries the internal headers (cimclient/internal) that our own
# server minicimd shares with the client; nothing under include/Pegasus needs them.
find_package(EXPAT REQUIRED)
find_package(CURL REQUIRED)

add_library(cimxml_internal INTERFACE)
target_include_directories(cimxml_internal INTERFACE ${CMAKE_CURRENT_LIST_DIR}/internal)

# XML tokenizer with limits (expat); part of pegcommon.
add_library(orv_xmlpull OBJECT ${CMAKE_CURRENT_LIST_DIR}/common/xml/XmlPull.cpp)
target_link_libraries(orv_xmlpull PUBLIC cimxml_internal EXPAT::EXPAT)
orv_warnings(orv_xmlpull)

# HTTP transport and local authentication (libcurl); part of pegclient.
add_library(orv_httptransport OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/client/transport/HttpTransport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/client/transport/LocalAuth.cpp)
target_link_libraries(orv_httptransport PUBLIC cimxml_internal CURL::libcurl)
orv_warnings(orv_httptransport)
