#include <Pegasus/Common/OperationContext.h>

PEGASUS_NAMESPACE_BEGIN

OperationContext::Container::~Container() {}

OperationContext::OperationContext() {}

OperationContext::OperationContext(const OperationContext& context)
{
    *this = context;
}

OperationContext::~OperationContext()
{
    clear();
}

OperationContext& OperationContext::operator=(const OperationContext& context)
{
    if (this == &context) return *this;
    std::vector<Container*> copies;
    try {
        for (const Container* c : context._containers) copies.push_back(c->clone());
    } catch (...) {
        for (Container* c : copies) c->destroy();
        throw;
    }
    clear();
    _containers.swap(copies);
    return *this;
}

void OperationContext::clear()
{
    for (Container* c : _containers) c->destroy();
    _containers.clear();
}

const OperationContext::Container& OperationContext::get(const String& containerName) const
{
    for (const Container* c : _containers)
        if (String::equal(c->getName(), containerName)) return *c;
    throw Exception(String("object not found: ") + containerName);
}

void OperationContext::set(const Container& container)
{
    for (Container*& c : _containers) {
        if (String::equal(c->getName(), container.getName())) {
            Container* copy = container.clone();
            c->destroy();
            c = copy;
            return;
        }
    }
    throw Exception(String("object not found: ") + container.getName());
}

void OperationContext::insert(const Container& container)
{
    for (const Container* c : _containers)
        if (String::equal(c->getName(), container.getName()))
            throw Exception(String("already exists: ") + container.getName());
    Container* copy = container.clone();
    try {
        _containers.push_back(copy);
    } catch (...) {
        copy->destroy();
        throw;
    }
}

void OperationContext::remove(const String& containerName)
{
    for (std::size_t i = 0; i < _containers.size(); i++) {
        if (String::equal(_containers[i]->getName(), containerName)) {
            _containers[i]->destroy();
            _containers.erase(_containers.begin() + long(i));
            return;
        }
    }
    throw Exception(String("object not found: ") + containerName);
}

PEGASUS_NAMESPACE_END
