// The module's class factory: creates instances of one template entry.
#ifndef QUILLON_OBJECT_FACTORY_H
#define QUILLON_OBJECT_FACTORY_H

#include <windows.h>
#include <unknwn.h>

struct ObjectTemplate;

// Net count of IClassFactory::LockServer calls; the module stays loaded
// while it is above 0.
extern volatile LONG ServerLockCount;

class ObjectFactory : public IClassFactory {
public:
    // Counted in LiveObjectCount while it exists; starts with no reference.
    explicit ObjectFactory(const ObjectTemplate* objectTemplate);
    virtual ~ObjectFactory();

    ObjectFactory(const ObjectFactory&) = delete;
    ObjectFactory& operator=(const ObjectFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    const ObjectTemplate* m_Template;
    volatile LONG m_RefCount;
};

#endif
