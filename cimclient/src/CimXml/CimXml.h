// CIM-XML messages (CIM operations and exports over HTTP) in both directions.
//
// The client writes requests and reads responses; our development server reads
// requests and writes responses with the same code, so every element is both
// written and read here.  Exports go the other way (the server sends an
// indication, our listener reads it and answers).  Reading throws XmlError (what and where); writing
// throws EncodeError for data that XML 1.0 cannot carry.
#ifndef ORV_CIMXML_CIMXML_H
#define ORV_CIMXML_CIMXML_H

#include <Pegasus/Common/CIMClass.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/CIMParamValue.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>
#include <Pegasus/Common/CIMStatusCode.h>
#include <Pegasus/Common/CIMValue.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "CimXml/XmlPull.h"

namespace orv {
namespace cimxml {

// Text that cannot be written as XML 1.0 (a control character other than
// tab, line feed and carriage return, a lone surrogate, U+FFFE, U+FFFF), or a
// value kind the codec does not carry.
class EncodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One IPARAMVALUE of an intrinsic call.
struct IParamValue {
    enum class Kind {
        Null,            // no content
        Value,           // VALUE: `value` (string)
        ValueArray,      // VALUE.ARRAY: `value` (string array)
        ValueReference,  // VALUE.REFERENCE: `path`
        ClassName,       // CLASSNAME: `className`
        InstanceName,    // INSTANCENAME: `path`
        Class,           // CLASS: `cimClass`
        Instance,        // INSTANCE: `instance`
        NamedInstance    // VALUE.NAMEDINSTANCE: `instance` with its path
    };
    std::string name;
    Kind kind = Kind::Null;
    Pegasus::CIMValue value;
    Pegasus::CIMObjectPath path;
    Pegasus::CIMName className;
    Pegasus::CIMClass cimClass;
    Pegasus::CIMInstance instance;

    static IParamValue ofBoolean(const std::string& name, bool b);
    static IParamValue ofString(const std::string& name, const Pegasus::String& s);
    static IParamValue ofStringArray(const std::string& name, const Pegasus::Array<Pegasus::String>& a);
    static IParamValue ofClassName(const std::string& name, const Pegasus::CIMName& c);
    static IParamValue ofInstanceName(const std::string& name, const Pegasus::CIMObjectPath& p);
    static IParamValue ofInstance(const std::string& name, const Pegasus::CIMInstance& i);
    static IParamValue ofNamedInstance(const std::string& name, const Pegasus::CIMInstance& i);
    // A property value: VALUE, VALUE.ARRAY or VALUE.REFERENCE; Null when null.
    static IParamValue ofValue(const std::string& name, const Pegasus::CIMValue& v);
};

struct CimRequest {
    std::string messageId = "1001";
    bool intrinsic = true;
    std::string methodName;               // IMETHODCALL / METHODCALL NAME
    Pegasus::CIMNamespaceName nameSpace;  // LOCALNAMESPACEPATH
    std::vector<IParamValue> iparams;     // intrinsic
    // Extrinsic: the target; key bindings make it a LOCALINSTANCEPATH, none a LOCALCLASSPATH.
    Pegasus::CIMObjectPath target;
    Pegasus::Array<Pegasus::CIMParamValue> params;  // extrinsic PARAMVALUEs

    const IParamValue* findIParam(std::string_view name) const;  // case-insensitive
};

struct CimResponse {
    enum class ReturnKind {
        None,             // no IRETURNVALUE, or an empty one
        ClassNames,       // CLASSNAME*
        InstanceNames,    // INSTANCENAME*
        Classes,          // CLASS*
        Instances,        // INSTANCE*
        NamedInstances,   // VALUE.NAMEDINSTANCE* (instances carry their paths)
        ObjectsWithPath,  // VALUE.OBJECTWITHPATH* (classes or instances with paths)
        Value             // VALUE, VALUE.ARRAY or VALUE.REFERENCE: `value`
    };
    std::string messageId = "1001";
    bool intrinsic = true;
    std::string methodName;

    bool isError = false;
    Pegasus::CIMStatusCode errorCode = Pegasus::CIM_ERR_SUCCESS;
    Pegasus::String errorDescription;
    Pegasus::Array<Pegasus::CIMInstance> errorInstances;

    // Intrinsic results.
    bool hasReturnValue = false;  // an IRETURNVALUE element was present
    ReturnKind kind = ReturnKind::None;
    Pegasus::Array<Pegasus::CIMName> classNames;
    Pegasus::Array<Pegasus::CIMObjectPath> instanceNames;
    Pegasus::Array<Pegasus::CIMClass> classes;
    Pegasus::Array<Pegasus::CIMInstance> instances;
    Pegasus::CIMValue value;

    // Extrinsic results.
    Pegasus::CIMValue returnValue;
    Pegasus::Array<Pegasus::CIMParamValue> outParams;
};

// One EXPPARAMVALUE of an export call; only INSTANCE content is carried
// (what ExportIndication sends), an empty one has `hasInstance` false.
struct ExportParamValue {
    std::string name;
    bool hasInstance = false;
    Pegasus::CIMInstance instance;
};

// An export message (a server delivering to a listener): EXPMETHODCALL.
struct ExportRequest {
    std::string messageId = "1001";
    std::string methodName = "ExportIndication";
    std::vector<ExportParamValue> params;

    const ExportParamValue* findParam(std::string_view name) const;  // case-insensitive
};

// Its answer: EXPMETHODRESPONSE, empty on success, else an ERROR.
struct ExportResponse {
    std::string messageId = "1001";
    std::string methodName = "ExportIndication";
    bool isError = false;
    Pegasus::CIMStatusCode errorCode = Pegasus::CIM_ERR_SUCCESS;
    Pegasus::String errorDescription;
};

// How a written message is laid out.  Compact has no white space between
// elements; OneElementPerLine puts each element on its own line (text stays
// inside its VALUE, KEYVALUE or HOST), the layout an OpenPegasus server
// answers with, so a server can be compared with recordings of one.
enum class Layout { Compact, OneElementPerLine };

// Whole messages.
std::string writeRequest(const CimRequest& request);
CimRequest readRequest(std::string_view body);
// The same, filling `request` as it reads: when reading fails, what came
// before the failure (message ID, method name) is there for the error answer.
void readRequest(std::string_view body, CimRequest& request);
std::string writeResponse(const CimResponse& response);
std::string writeResponse(const CimResponse& response, Layout layout);
CimResponse readResponse(std::string_view body);

// CIM names as read, each decoded and checked once: class, property and key
// names recur within an answer (every path of an enumeration) and from one
// answer to the next (a client asking for the same instances again).  The
// names share their storage with the answers they go into.
class NameCache {
public:
    const Pegasus::CIMName* find(std::string_view text) const
    {
        auto it = names_.find(text);
        return it == names_.end() ? nullptr : &it->second;
    }
    // Keeps `name` as what `text` reads as, while there is room.
    void add(std::string_view text, const Pegasus::CIMName& name)
    {
        if (names_.size() >= kMaxNames || text.size() > kMaxNameBytes) return;
        keys_.emplace_back(text);
        names_.emplace(keys_.back(), name);
    }

private:
    static constexpr std::size_t kMaxNames = 4096;
    static constexpr std::size_t kMaxNameBytes = 256;
    std::deque<std::string> keys_;  // a deque never moves what it holds
    std::unordered_map<std::string_view, Pegasus::CIMName> names_;
};

// What a client keeps from one answer to the next.
struct ReadScratch {
    XmlScratch xml;
    NameCache names;
};
// The same in the buffers of `scratch`, given back when done (see XmlScratch),
// with the names it has met before.
CimResponse readResponse(std::string_view body, ReadScratch& scratch);

// Export messages.  readExportRequest fills `request` as it reads, as
// readRequest does, so the message ID is there for the error answer.
std::string writeExportRequest(const ExportRequest& request);
void readExportRequest(std::string_view body, ExportRequest& request);
std::string writeExportResponse(const ExportResponse& response);
ExportResponse readExportResponse(std::string_view body);

// Pieces, for tests and for the server's own uses.
void appendEscaped(std::string& out, const Pegasus::String& text);
void appendEscaped(std::string& out, std::string_view utf8);
void writeValueElement(std::string& out, const Pegasus::CIMValue& value);  // nothing for null
void writeInstanceName(std::string& out, const Pegasus::CIMObjectPath& path);
void writeValueReference(std::string& out, const Pegasus::CIMObjectPath& path);
void writeInstance(std::string& out, const Pegasus::CIMConstInstance& instance);
void writeClass(std::string& out, const Pegasus::CIMConstClass& cimClass);
void writeQualifier(std::string& out, const Pegasus::CIMConstQualifier& qualifier);
// A property element is its start tag, its qualifiers, its value element and its end tag.
void writePropertyStart(std::string& out, const Pegasus::CIMConstProperty& property);
void writePropertyEnd(std::string& out, const Pegasus::CIMConstProperty& property);

// Writer output (whole elements) in `layout`.  Laying out goes tag by tag, so
// whole elements laid out one by one and put together read as the whole laid
// out at once: a server may keep pieces of its answers ready.
std::string laidOut(std::string_view compact, Layout layout);
// The text of an intrinsic answer before and after its IRETURNVALUE content,
// the same in both layouts, for content the caller writes itself.
void openIntrinsicAnswer(std::string& out, const std::string& messageId, const std::string& methodName);
void closeIntrinsicAnswer(std::string& out);

// Text form of one scalar value as a VALUE element holds it (UTF-8).
std::string valueText(const Pegasus::CIMValue& value, Pegasus::Uint32 index = 0);
// Parses VALUE text for a type; throws std::invalid_argument with a reason.
Pegasus::CIMValue parseScalar(Pegasus::CIMType type, std::string_view text);

// Names of CIM types as TYPE attributes spell them, and back (false if unknown).
const char* typeName(Pegasus::CIMType type);
bool typeFromName(std::string_view name, Pegasus::CIMType& type);

// The value of a boolean IPARAMVALUE, `fallback` when absent or null.
bool iparamBoolean(const CimRequest& request, std::string_view name, bool fallback);

}  // namespace cimxml
}  // namespace orv

#endif
