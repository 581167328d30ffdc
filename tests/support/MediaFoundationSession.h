// A test's Media Foundation: the thread in the multithreaded apartment, as
// the platform's services run, and Media Foundation started, both for the
// lifetime of the object.
#ifndef QUILLON_MEDIA_FOUNDATION_SESSION_H
#define QUILLON_MEDIA_FOUNDATION_SESSION_H

#include <windows.h>

class MediaFoundationSession {
  public:
    MediaFoundationSession();
    ~MediaFoundationSession();
    MediaFoundationSession(const MediaFoundationSession&) = delete;
    MediaFoundationSession& operator=(const MediaFoundationSession&) = delete;

    // S_OK when both the apartment and Media Foundation were started.
    HRESULT Result() const { return FAILED(m_Apartment) ? m_Apartment : m_Startup; }

  private:
    HRESULT m_Apartment;
    HRESULT m_Startup = E_UNEXPECTED;
};

#endif
