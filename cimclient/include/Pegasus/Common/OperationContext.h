// Extra facts that travel with an operation (identity, languages, ...) as named containers.
#ifndef Pegasus_OperationContext_h
#define Pegasus_OperationContext_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/String.h>
#include <Pegasus/Common/Exception.h>
#include <vector>

PEGASUS_NAMESPACE_BEGIN

class PEGASUS_COMMON_LINKAGE OperationContext {
public:
    class PEGASUS_COMMON_LINKAGE Container {
    public:
        virtual ~Container();
        virtual String getName() const = 0;
        virtual Container* clone() const = 0;
        virtual void destroy() = 0;
    };

    OperationContext();
    OperationContext(const OperationContext& context);
    virtual ~OperationContext();
    OperationContext& operator=(const OperationContext& context);

    void clear();
    // Exception when no container has that name.
    const Container& get(const String& containerName) const;
    // Replaces the container of the same name; Exception when there is none.
    void set(const Container& container);
    // Exception when one of the same name is already there.
    void insert(const Container& container);
    void remove(const String& containerName);

private:
    std::vector<Container*> _containers;
};

PEGASUS_NAMESPACE_END

#endif
