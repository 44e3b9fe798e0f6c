// The in-memory repository: per namespace, qualifier types, resolved classes
// (inherited features included) as pegcommon objects, and instances in a
// stored form of their own (StoredInstance.h), indexed by their keys.
// Safe for concurrent use: reads share a lock, changes take it alone, and
// every answer is a copy of its own, free to change.
#ifndef MINICIMD_REPO_REPOSITORY_H
#define MINICIMD_REPO_REPOSITORY_H

#include "mof/MofAst.h"
#include "repo/CimValues.h"
#include "repo/StoredInstance.h"

#include <Pegasus/Common/CIMClass.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/CIMObjectPath.h>

#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

namespace minicimd {

// A property value as a client gives it, before it meets its declaration.
struct GivenProperty {
    std::string name;
    Pegasus::CIMValue value;  // null: set to null
    bool typed = false;       // the sender named its type
};

// A qualifier declaration (pegcommon has no type for one).
struct QualifierType {
    std::string name;
    Pegasus::CIMType type = Pegasus::CIMTYPE_BOOLEAN;
    bool isArray = false;
    uint32_t arraySize = 0;
    Pegasus::CIMValue defaultValue;
    uint32_t scopes = 0;
    bool overridable = true;
    bool toSubclass = true;
    bool translatable = false;
};

class Repository {
public:
    // Most instances one namespace may hold; CreateInstance beyond it fails
    // with CIM_ERR_SERVER_LIMITS_EXCEEDED instead of eating the machine.
    static constexpr size_t kMaxInstancesPerNamespace = 1000000;
    // How deep a class may sit below its root class (real schemas: about a
    // dozen levels); a deeper one fails to compile.
    static constexpr unsigned kMaxInheritanceDepth = 4096;
    // What the instances of every namespace may take together (as
    // StoredInstance::bytes reckons it); a creation or change that would go
    // beyond fails with CIM_ERR_SERVER_LIMITS_EXCEEDED and stores nothing.
    // Instances loaded from MOF count, but are never refused.
    static constexpr size_t kMaxStoredBytes = 64u * 1024 * 1024;

    static std::unique_ptr<Repository> create();

    // Loads a MOF file, or a directory (its schema.mof if there is one, else
    // every *.mof in it in name order), into `nameSpace`.  Throws mof::MofError
    // naming the file and position of the first problem.
    void loadMof(const std::string& nameSpace, const std::string& path);
    void loadCompilation(const std::string& nameSpace, const mof::Compilation& c);
    void addNamespace(const std::string& nameSpace);

    bool hasNamespace(const std::string& ns) const;
    std::vector<std::string> namespaces() const;

    // All of these throw CimError with the status a client should see.
    Pegasus::CIMClass getClass(const std::string& ns, const std::string& className) const;
    std::vector<Pegasus::CIMClass> enumerateClasses(const std::string& ns, const std::string& className,
                                                    bool deep) const;
    std::vector<std::string> enumerateClassNames(const std::string& ns, const std::string& className,
                                                 bool deep) const;

    // Instances carry their paths (keys only, no namespace).
    Pegasus::CIMInstance getInstance(const std::string& ns, const Pegasus::CIMObjectPath& path) const;
    // Instances of the class and of all its subclasses.
    std::vector<Pegasus::CIMInstance> enumerateInstances(const std::string& ns,
                                                         const std::string& className) const;
    std::vector<Pegasus::CIMObjectPath> enumerateInstanceNames(const std::string& ns,
                                                               const std::string& className) const;
    // The same two as the content of their answers (CIM-XML, one element per
    // line), written from the stored form; throw orv::cimxml::EncodeError
    // where writing the objects would.
    void writeInstance(const std::string& ns, const Pegasus::CIMObjectPath& path, const InstanceView& view,
                       std::string& out) const;
    void writeInstanceNames(const std::string& ns, const std::string& className, std::string& out) const;
    Pegasus::CIMObjectPath createInstance(const std::string& ns, const std::string& className,
                                          const std::vector<GivenProperty>& props);
    void deleteInstance(const std::string& ns, const Pegasus::CIMObjectPath& path);
    // Sets the given properties (all of them when `propertyList` is null, else
    // only those named); key values cannot change.
    void modifyInstance(const std::string& ns, const Pegasus::CIMObjectPath& path,
                        const std::vector<GivenProperty>& props,
                        const std::vector<std::string>* propertyList);
    Pegasus::CIMValue getProperty(const std::string& ns, const Pegasus::CIMObjectPath& path,
                                  const std::string& name) const;
    void setProperty(const std::string& ns, const Pegasus::CIMObjectPath& path, const std::string& name,
                     const Pegasus::CIMValue& v, bool typed);

    size_t instanceCount(const std::string& ns) const;
    // `className` is `base` or one of its subclasses; false when either is unknown.
    bool classIsA(const std::string& ns, const std::string& className, const std::string& base) const;

    // Names of the key properties of a resolved class, in property order.
    static std::vector<std::string> keyNamesOf(const Pegasus::CIMConstClass& cls);

private:
    struct ClassEntry {
        Pegasus::CIMClass cls;
        std::string name;
        std::string superClass;
        std::vector<std::string> keyNames;
        bool abstract = false;
        // Built, under the exclusive lock, when the class first holds an instance:
        // a deep schema has many classes that never do, and each one's pieces
        // repeat everything it inherits.
        mutable std::optional<InstanceForms> forms;
        unsigned depth = 0;  // superclasses above it
    };
    struct Namespace {
        std::string name;
        std::map<std::string, QualifierType> qualifierTypes;  // by lower-case name
        std::map<std::string, ClassEntry> classes;            // by lower-case name
        std::vector<std::string> classOrder;                  // lower-case, definition order
        std::map<std::string, std::map<std::string, StoredInstance>>
            instances;                                          // class -> identity -> instance
        std::map<std::string, Pegasus::CIMObjectPath> aliases;  // MOF aliases of this load
        size_t instanceTotal = 0;
    };
    struct MofValue;

    Repository() = default;
    Namespace& nsForLoad(const std::string& ns);
    const Namespace& nsOrThrow(const std::string& ns) const;
    Namespace& nsOrThrow(const std::string& ns);
    const ClassEntry& classOrThrow(const Namespace& n, const std::string& name, int status) const;
    bool isSubclassOf(const Namespace& n, const std::string& cls, const std::string& base) const;
    Pegasus::CIMObjectPath pathOf(const ClassEntry& c, const Pegasus::CIMConstInstance& inst) const;
    std::string identityOf(const ClassEntry& c, const Pegasus::CIMConstInstance& inst) const;
    std::string identityOfPath(const ClassEntry& c, const Pegasus::CIMObjectPath& path) const;
    Pegasus::CIMInstance buildInstance(const ClassEntry& c, const std::vector<GivenProperty>& props) const;
    const StoredInstance* findInstance(const Namespace& n, const Pegasus::CIMObjectPath& path,
                                       std::string* identity, const ClassEntry** cls = nullptr) const;
    // Instances of the class and its subclasses, class by class in definition order.
    std::vector<std::pair<const ClassEntry*, const std::map<std::string, StoredInstance>*>> bucketsOf(
        const Namespace& n, const std::string& className) const;

    void loadQualifier(Namespace& n, const mof::QualifierDecl& d);
    void loadClass(Namespace& n, const mof::ClassDecl& d);
    void loadInstance(Namespace& n, const mof::InstanceDecl& d);
    std::vector<Pegasus::CIMQualifier> resolveQualifiers(const Namespace& n,
                                                         const std::vector<mof::QualifierUse>& uses,
                                                         const std::vector<Pegasus::CIMQualifier>* inherited,
                                                         uint32_t scope, const std::string& where) const;
    Pegasus::CIMValue valueFromMof(const Namespace& n, const mof::Value& v, DataType t, bool isArray,
                                   const std::string& what) const;

    // Throws when `more` bytes would take the instances past kMaxStoredBytes.
    void checkBudget(size_t more) const;

    mutable std::shared_mutex mu_;
    std::map<std::string, Namespace> namespaces_;  // by lower-case name
    size_t storedBytes_ = 0;                       // of every namespace's instances
};

}  // namespace minicimd

#endif
