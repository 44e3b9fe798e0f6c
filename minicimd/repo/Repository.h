// The in-memory repository: per namespace, qualifier types, resolved classes
// (inherited features included) and instances.  Safe for concurrent use: reads
// share a lock, changes take it alone, and every answer is a copy.
#ifndef MINICIMD_REPO_REPOSITORY_H
#define MINICIMD_REPO_REPOSITORY_H

#include "mof/MofAst.h"
#include "repo/Model.h"

#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

namespace minicimd {

// A value as a client or a MOF file gives it, before it meets its declaration.
struct RawValue {
    bool null = true;
    bool isArray = false;
    bool typed = false;          // the sender named a type (PROPERTY TYPE=, PARAMTYPE=)
    DataType type = DataType::String;
    bool isRef = false;          // given as VALUE.REFERENCE
    std::vector<std::string> texts;
    std::vector<ObjectPath> refs;
};

struct RawProperty {
    std::string name;
    RawValue value;
};

// Converts `raw` to a value of the declared type; throws CimError(TYPE_MISMATCH).
Value coerceValue(DataType type, bool isArray, const RawValue& raw, const std::string& what);

class Repository {
public:
    // Most instances one namespace may hold; CreateInstance beyond it fails
    // with CIM_ERR_SERVER_LIMITS_EXCEEDED instead of eating the machine.
    static constexpr size_t kMaxInstancesPerNamespace = 1000000;

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
    Class getClass(const std::string& ns, const std::string& className) const;
    std::vector<Class> enumerateClasses(const std::string& ns, const std::string& className, bool deep) const;
    std::vector<std::string> enumerateClassNames(const std::string& ns, const std::string& className, bool deep) const;

    Instance getInstance(const std::string& ns, const ObjectPath& path) const;
    // Instances of the class and of all its subclasses.
    std::vector<Instance> enumerateInstances(const std::string& ns, const std::string& className) const;
    std::vector<ObjectPath> enumerateInstanceNames(const std::string& ns, const std::string& className) const;
    ObjectPath createInstance(const std::string& ns, const std::string& className,
                              const std::vector<RawProperty>& props);
    void deleteInstance(const std::string& ns, const ObjectPath& path);
    // Sets the given properties (all of them when `propertyList` is null, else
    // only those named); key values cannot change.
    void modifyInstance(const std::string& ns, const ObjectPath& path, const std::vector<RawProperty>& props,
                        const std::vector<std::string>* propertyList);
    Value getProperty(const std::string& ns, const ObjectPath& path, const std::string& name) const;
    void setProperty(const std::string& ns, const ObjectPath& path, const std::string& name, const RawValue& v);

    // The path of `inst` (keys in class order, no namespace).
    ObjectPath pathOf(const Class& cls, const Instance& inst) const;
    size_t instanceCount(const std::string& ns) const;

private:
    struct Namespace {
        std::string name;
        std::map<std::string, QualifierType> qualifierTypes;   // by lower-case name
        std::map<std::string, Class> classes;                  // by lower-case name
        std::vector<std::string> classOrder;                   // lower-case, definition order
        std::map<std::string, std::map<std::string, Instance>> instances;  // class -> identity -> instance
        std::map<std::string, ObjectPath> aliases;             // MOF aliases of this load
        size_t instanceTotal = 0;
    };

    Repository() = default;
    Namespace& nsForLoad(const std::string& ns);
    const Namespace& nsOrThrow(const std::string& ns) const;
    Namespace& nsOrThrow(const std::string& ns);
    const Class& classOrThrow(const Namespace& n, const std::string& name, int status) const;
    bool isSubclassOf(const Namespace& n, const std::string& cls, const std::string& base) const;
    std::string identityOf(const Class& cls, const Instance& inst) const;
    std::string identityOfPath(const Namespace& n, const Class& cls, const ObjectPath& path) const;
    Instance buildInstance(const Namespace& n, const Class& cls, const std::vector<RawProperty>& props) const;
    const Instance* findInstance(const Namespace& n, const ObjectPath& path, std::string* identity) const;

    void loadQualifier(Namespace& n, const mof::QualifierDecl& d);
    void loadClass(Namespace& n, const mof::ClassDecl& d);
    void loadInstance(Namespace& n, const mof::InstanceDecl& d);
    std::vector<Qualifier> resolveQualifiers(const Namespace& n, const std::vector<mof::QualifierUse>& uses,
                                             const std::vector<Qualifier>* inherited, uint32_t scope,
                                             const std::string& where) const;
    RawValue rawFromMof(const Namespace& n, const mof::Value& v) const;

    mutable std::shared_mutex mu_;
    std::map<std::string, Namespace> namespaces_;  // by lower-case name
};

}  // namespace minicimd

#endif
