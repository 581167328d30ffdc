// The Media Foundation source as the module's class table and the capture
// tool see it: its class identifier, its name and its creation function.
// The class is an activation object (IMFActivate), as a frame server creates
// it; the module's class factory hands out the source it activates when the
// class is created for one of the source's interfaces instead.
// Free of Media Foundation headers, so that code built for older Windows
// versions can include it.
#ifndef QUILLON_MEDIA_SOURCE_CLASS_H
#define QUILLON_MEDIA_SOURCE_CLASS_H

#include <windows.h>

#include "framework/ObjectBase.h"

// "Brisca Camera Media Source" {BEB49F67-F61D-4777-95B7-2549DB3A73B8}
inline const CLSID CLSID_BriscaMediaSource = {
    0xbeb49f67, 0xf61d, 0x4777, {0x95, 0xb7, 0x25, 0x49, 0xdb, 0x3a, 0x73, 0xb8}};
inline const wchar_t MediaSourceDisplayName[] = L"Brisca Camera Media Source";

// Creates the activation object with one reference held by nobody yet (the
// class factory's convention); refuses aggregation with CLASS_E_NOAGGREGATION.
ObjectBase* CreateCameraSourceActivate(IUnknown* owner, HRESULT* result);

#endif
