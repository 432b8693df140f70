#include "server/FactoryTemplate.h"

#include "filter/SrcFilter.h"
#include "mf/RecordingByteStreamHandler.h"
#include "common/KXVDSrcClsid.h"
#include "shell/RecordingPropertyStore.h"
#include "shell/RecordingThumbnailProvider.h"

#include <uuids.h>

namespace {

const REGPINTYPES VideoPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2}};
const REGPINTYPES AudioPinTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};

// Both registered pins are called "Output"; the live pins carry their own names.
wchar_t OutputPinName[] = L"Output";

const REGFILTERPINS FilterPins[] = {
    {OutputPinName, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, L"Input", 1, VideoPinTypes},
    {OutputPinName, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, L"Input", 1, AudioPinTypes},
};

const FilterSetupRecord SourceSetup = {
    &CLSID_KXVDSource, KXVDSourceFriendlyName, MERIT_PREFERRED, 2, FilterPins,
};

}  // namespace

const FactoryTemplate FactoryTable[] = {
    {KXVDSourceFriendlyName, &CLSID_KXVDSource, CreateSrcFilter, nullptr, &SourceSetup},
    {KXVDByteStreamHandlerName, &CLSID_KXVDByteStreamHandler, CreateRecordingByteStreamHandler, nullptr, nullptr},
    {KXVDThumbnailProviderName, &CLSID_KXVDThumbnailProvider, CreateRecordingThumbnailProvider, nullptr, nullptr},
    {KXVDPropertyHandlerName, &CLSID_KXVDPropertyHandler, CreateRecordingPropertyStore, nullptr, nullptr},
};

const int FactoryCount = sizeof(FactoryTable) / sizeof(FactoryTable[0]);
