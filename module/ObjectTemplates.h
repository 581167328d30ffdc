// The table of classes the module can create.
#ifndef QUILLON_OBJECT_TEMPLATES_H
#define QUILLON_OBJECT_TEMPLATES_H

#include <windows.h>
#include "framework/ObjectBase.h"

struct FilterSetup;

// Creates one instance with the given controlling owner (or none); may
// report a failure through result.
typedef ObjectBase* (*ObjectCreateFunction)(IUnknown* owner, HRESULT* result);
// Called with true at module load and false at unload.
typedef void (*ObjectInitFunction)(BOOL loading, const CLSID* classId);

struct ObjectTemplate {
    const wchar_t* m_DisplayName;
    const CLSID* m_ClassId;
    ObjectCreateFunction m_CreateFn;
    ObjectInitFunction m_InitFn;
    const FilterSetup* m_FilterSetup;
};

extern const ObjectTemplate ObjectTemplateTable[];
extern const int ObjectTemplateCount;

// The filter's registration record, shared by the table and DllRegisterServer.
extern const FilterSetup CameraFilterSetup;

#endif
