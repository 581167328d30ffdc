// The Media Foundation functions the media source calls, found in mfplat.dll
// when they are first needed instead of imported: a module that imported them
// would not load at all on a Windows without Media Foundation (the editions
// sold without media features), and the DirectShow filter would go with it.
#ifndef QUILLON_MEDIA_FOUNDATION_API_H
#define QUILLON_MEDIA_FOUNDATION_API_H

#include "mediasource/MediaFoundation.h"

struct MediaFoundationApi {
    HRESULT(WINAPI* CreateAttributes)(IMFAttributes** attributes, UINT32 initialSize);
    HRESULT(WINAPI* CreateEventQueue)(IMFMediaEventQueue** queue);
    HRESULT(WINAPI* CreateMediaType)(IMFMediaType** type);
    HRESULT(WINAPI* CreateMemoryBuffer)(DWORD maxLength, IMFMediaBuffer** buffer);
    HRESULT(WINAPI* CreatePresentationDescriptor)
    (DWORD streamCount, IMFStreamDescriptor** streams, IMFPresentationDescriptor** descriptor);
    HRESULT(WINAPI* CreateSample)(IMFSample** sample);
    HRESULT(WINAPI* CreateStreamDescriptor)
    (DWORD streamId, DWORD typeCount, IMFMediaType** types, IMFStreamDescriptor** descriptor);
};

// The functions, or null when this Windows has no Media Foundation. The
// library is loaded once and stays loaded while the process runs, since the
// objects it made may outlive any one user of them.
const MediaFoundationApi* MediaFoundation();

// What creating the media source answers without Media Foundation.
const HRESULT MediaFoundationMissing = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);

// Whether one of the module's Media Foundation objects may be created for
// `owner`: CLASS_E_NOAGGREGATION for an aggregating owner, MediaFoundationMissing
// without Media Foundation, S_OK otherwise.
HRESULT CheckMediaObjectCreation(IUnknown* owner);

#endif
