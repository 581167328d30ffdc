#include "framework/Sync.h"

SignalEvent::SignalEvent(bool manualReset)
    : m_Event(CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr))
{
}

SignalEvent::~SignalEvent()
{
    if (m_Event) CloseHandle(m_Event);
}
