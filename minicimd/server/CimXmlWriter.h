// Writes repository objects as CIM-XML elements, in the layout an OpenPegasus
// server uses (one element per line).
#ifndef MINICIMD_SERVER_CIMXMLWRITER_H
#define MINICIMD_SERVER_CIMXMLWRITER_H

#include "repo/Model.h"

#include <string>
#include <vector>

namespace minicimd {

struct OutputOptions {
    bool includeQualifiers = false;
    bool includeClassOrigin = false;
    bool localOnly = false;                         // classes only
    const std::vector<std::string>* propertyList = nullptr;  // null: all
};

class CimXmlWriter {
public:
    static void escape(std::string& out, const std::string& text);
    static void value(std::string& out, const Value& v);  // VALUE, VALUE.ARRAY, VALUE.REFERENCE or VALUE.REFARRAY
    static void objectPath(std::string& out, const ObjectPath& p);  // INSTANCENAME / LOCALINSTANCEPATH / INSTANCEPATH
    static void instanceName(std::string& out, const ObjectPath& p);
    static void qualifier(std::string& out, const Qualifier& q);
    static void property(std::string& out, const Property& p, const OutputOptions& o);
    static void cimClass(std::string& out, const Class& c, const OutputOptions& o);
    static void instance(std::string& out, const Instance& i, const Class& cls, const OutputOptions& o);
    static std::string paramType(DataType t);  // "string", "reference", ...
};

}  // namespace minicimd

#endif
