#include "tests/support/MediaFoundationSession.h"

#include <mfapi.h>

MediaFoundationSession::MediaFoundationSession() : m_Apartment(CoInitializeEx(nullptr, COINIT_MULTITHREADED))
{
    if (SUCCEEDED(m_Apartment)) m_Startup = MFStartup(MF_VERSION, MFSTARTUP_FULL);
}

MediaFoundationSession::~MediaFoundationSession()
{
    if (SUCCEEDED(m_Startup)) MFShutdown();
    if (SUCCEEDED(m_Apartment)) CoUninitialize();
}
