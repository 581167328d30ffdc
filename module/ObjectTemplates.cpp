#include "module/ObjectTemplates.h"

#include <uuids.h>

#include "camera/CameraFilter.h"
#include "camera/ICameraConfig.h"
#include "framework/FilterSetup.h"
#include "mediasource/MediaSourceClass.h"
#include "pages/FormatPage.h"
#include "pages/PropertyPage.h"

namespace {

// The mapper's legacy path reads the GUIDs through these pointers, so none
// of them may be null.
const REGPINTYPES VideoPinType = {&MEDIATYPE_Video, &GUID_NULL};

wchar_t OutVideoPinName[] = L"OutVideo";

const REGFILTERPINS CameraFilterPins[2] = {
    {OutVideoPinName, FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &VideoPinType},
    {OutVideoPinName, FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &VideoPinType},
};

}  // namespace

const FilterSetup CameraFilterSetup = {&CLSID_BriscaCamera, L"Brisca Camera", MERIT_DO_NOT_USE, 2, CameraFilterPins};

const ObjectTemplate ObjectTemplateTable[] = {
    {L"Brisca Camera", &CLSID_BriscaCamera, &CameraFilter::Create, nullptr, &CameraFilterSetup},
    {L"Property Page", &CLSID_CameraSettingsPage, &PropertyPage::Create, nullptr, nullptr},
    {L"Format Page", &CLSID_FormatPage, &FormatPage::Create, nullptr, nullptr},
    {MediaSourceDisplayName, &CLSID_BriscaMediaSource, &CreateCameraSourceActivate, nullptr, nullptr},
};

const int ObjectTemplateCount = sizeof(ObjectTemplateTable) / sizeof(ObjectTemplateTable[0]);
