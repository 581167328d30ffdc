#include "mediasource/MediaFoundationApi.h"

namespace {

template <class Function> bool Find(HMODULE library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return function != nullptr;
}

bool Load(MediaFoundationApi& api)
{
    // Never freed: see the header.
    const HMODULE library = LoadLibraryW(L"mfplat.dll");
    if (!library) return false;
    return Find(library, "MFCreateAttributes", api.CreateAttributes) &&
           Find(library, "MFCreateEventQueue", api.CreateEventQueue) &&
           Find(library, "MFCreateMediaType", api.CreateMediaType) &&
           Find(library, "MFCreateMemoryBuffer", api.CreateMemoryBuffer) &&
           Find(library, "MFCreatePresentationDescriptor", api.CreatePresentationDescriptor) &&
           Find(library, "MFCreateSample", api.CreateSample) &&
           Find(library, "MFCreateStreamDescriptor", api.CreateStreamDescriptor);
}

} // namespace

const MediaFoundationApi* MediaFoundation()
{
    static MediaFoundationApi api = {};
    static const bool loaded = Load(api);
    return loaded ? &api : nullptr;
}

HRESULT CheckMediaObjectCreation(IUnknown* owner)
{
    if (owner) return CLASS_E_NOAGGREGATION;
    return MediaFoundation() ? S_OK : MediaFoundationMissing;
}
