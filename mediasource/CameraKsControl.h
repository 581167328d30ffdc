// IKsControl as the camera's source and its stream both answer it: no
// property, method or event set is supported, so a frame server that asks
// for camera property sets hears "not found" and goes on without them.
//
// The object that inherits it supplies IUnknown and, where it can be shut
// down, CheckControlsUsable.
#ifndef QUILLON_CAMERA_KS_CONTROL_H
#define QUILLON_CAMERA_KS_CONTROL_H

#include <windows.h>
// IKsControl, which the audio headers that Media Foundation pulls in leave
// to this one to declare.
#include <devicetopology.h>

// {28F54685-06FD-11D2-B27A-00A0C9223196}, as the kernel-streaming headers name it.
inline const IID KsControlInterfaceId = {
    0x28f54685, 0x06fd, 0x11d2, {0xb2, 0x7a, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};

class CameraKsControl : public IKsControl {
  public:
    virtual ~CameraKsControl() = default;

    STDMETHODIMP KsProperty(PKSPROPERTY property, ULONG propertyLength, void* data, ULONG dataLength,
                            ULONG* bytesReturned) override;
    STDMETHODIMP KsMethod(PKSMETHOD method, ULONG methodLength, void* data, ULONG dataLength,
                          ULONG* bytesReturned) override;
    STDMETHODIMP KsEvent(PKSEVENT event, ULONG eventLength, void* data, ULONG dataLength,
                         ULONG* bytesReturned) override;

  protected:
    // S_OK while the object may be used; after its shutdown, its error.
    virtual HRESULT CheckControlsUsable() { return S_OK; }
};

#endif
